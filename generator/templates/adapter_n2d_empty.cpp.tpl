void $owner::AdapterHelper::AddFields(N2DHelper&) {}
