$svc::AsyncServiceInterface::~AsyncServiceInterface() = default;

$svc::AsyncServiceStub::AsyncServiceStub(std::shared_ptr<::Tovri::Stub::AsyncApiStub> apiStub)
    : apiStub_(std::move(apiStub)) {}

$svc::AsyncServiceStub::~AsyncServiceStub() = default;

$stub_operations

std::shared_ptr<const ::Tovri::Provider::AsyncApiInterface> $svc::AsyncServiceBinder::BindImplementation(
    const std::shared_ptr<AsyncServiceInterface>& impl) {
  return BindImplementation(impl, std::make_shared<::Tovri::L10n::Localizer>());
}

std::shared_ptr<const ::Tovri::Provider::AsyncApiInterface> $svc::AsyncServiceBinder::BindImplementation(
    const std::shared_ptr<AsyncServiceInterface>& impl, const std::shared_ptr<::Tovri::L10n::Localizer>& localizer) {
  return AsyncServiceBinderHelper::Bind(impl, localizer);
}

std::shared_ptr<const ::Tovri::Provider::AsyncApiInterface> $svc::AsyncServiceBinderHelper::Bind(
    const std::shared_ptr<AsyncServiceInterface>& impl, const std::shared_ptr<::Tovri::L10n::Localizer>& localizer) {
  return BindOperations(impl, localizer,
$slots);
}
