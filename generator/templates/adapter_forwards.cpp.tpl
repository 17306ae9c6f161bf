void $owner::AdapterHelper::AddFields(N2VHelper& h, const $name* obj) { h.AddTable(obj, $table); }
void $owner::AdapterHelper::AddFields(V2NHelper& h, $name* obj) { h.AddTable(obj, $table); }
void $owner::AdapterHelper::AddFields(N2DHelper& h) { h.AddTable($table); }
