// Operation "$wire".
struct $method {
$input
  using Interface = AsyncServiceInterface;
  using ResultCbType = ::Tovri::AsyncResult<$result, ::Tovri::AsyncResultTerminateCbPolicy>;
  // The wire name; the definitions of the input, the result and the declared errors, derived anew on each call.
  static std::string methodName();
  static std::shared_ptr<const ::Tovri::Data::DataDefinition> inputDef();
  static std::shared_ptr<const ::Tovri::Data::DataDefinition> outputDef();
  static std::list<std::shared_ptr<const ::Tovri::Data::DataDefinition>> errorDefs();
};
