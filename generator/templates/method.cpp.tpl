std::string $owner::methodName() { return $wire; }
DefinitionPtr $owner::inputDef() { return Definitions::Derive<Input>(); }
DefinitionPtr $owner::outputDef() { return Definitions::Derive<$result>(); }
std::list<DefinitionPtr> $owner::errorDefs() { return Definitions::DeriveAll<$errors>(); }
