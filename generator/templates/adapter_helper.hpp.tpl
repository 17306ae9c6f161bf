static void AddFields(
    ::Tovri::Data::NativeToValueAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
    const $name* obj);
static void AddFields(
    ::Tovri::Data::ValueToNativeAdapter::CompoundHelper<::Tovri::Data::StructValue>& h,
    $name* obj);
static void AddFields(
    ::Tovri::Data::NativeToDefinitionAdapter::CompoundHelper<::Tovri::Data::StructDefinition>& h);
