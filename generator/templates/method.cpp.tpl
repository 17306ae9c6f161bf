std::string $owner::methodName() {
  return $wire;
}

std::shared_ptr<const ::Tovri::Data::DataDefinition> $owner::inputDef() {
  return Definitions::Derive<Input>();
}

std::shared_ptr<const ::Tovri::Data::DataDefinition> $owner::outputDef() {
  return Definitions::Derive<$result>();
}

std::list<std::shared_ptr<const ::Tovri::Data::DataDefinition>> $owner::errorDefs() {
  return {
$errors
  };
}
