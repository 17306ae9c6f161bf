// Operation "$wire".
struct $method {
$input
  using Interface = AsyncServiceInterface;
  using ResultCbType = ::Tovri::AsyncResult<$result, ::Tovri::AsyncResultTerminateCbPolicy>;

  // The operation's wire name, and the definitions of its input, its result
  // and its declared errors (in declared order), derived anew on each call.
  static std::string methodName();
  static std::shared_ptr<const ::Tovri::Data::DataDefinition> inputDef();
  static std::shared_ptr<const ::Tovri::Data::DataDefinition> outputDef();
  static std::list<std::shared_ptr<const ::Tovri::Data::DataDefinition>> errorDefs();
};
