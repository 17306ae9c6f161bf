// The service's operations, in slot order. Implemented by the client stub
// and by the application on the provider side.
class AsyncServiceInterface {
 public:
$operations
  virtual ~AsyncServiceInterface();
};

// Client side: each operation packs its arguments into the method's Input
// and invokes the method through the framework's api stub.
class AsyncServiceStub : public AsyncServiceInterface {
 public:
  explicit AsyncServiceStub(std::shared_ptr<::Tovri::Stub::AsyncApiStub> apiStub);
$overrides
  ~AsyncServiceStub() override;

 private:
  std::shared_ptr<::Tovri::Stub::AsyncApiStub> apiStub_;
};

// Provider side: exposes an implementation to the framework, one method
// signal per operation in slot order.
class AsyncServiceBinder {
 public:
  static std::shared_ptr<const ::Tovri::Provider::AsyncApiInterface> BindImplementation(
      const std::shared_ptr<AsyncServiceInterface>& impl);
  static std::shared_ptr<const ::Tovri::Provider::AsyncApiInterface> BindImplementation(
      const std::shared_ptr<AsyncServiceInterface>& impl,
      const std::shared_ptr<::Tovri::L10n::Localizer>& localizer);
};

class AsyncServiceBinderHelper : public ::Tovri::Provider::AsyncServiceBinderHelperBase<AsyncServiceInterface> {
 public:
$builders
  static std::shared_ptr<const ::Tovri::Provider::AsyncApiInterface> Bind(
      const std::shared_ptr<AsyncServiceInterface>& impl,
      const std::shared_ptr<::Tovri::L10n::Localizer>& localizer);
};
