void $svc::AsyncServiceStub::$op($params) {
  const $method::Input input;
  ::Tovri::Stub::AsyncMethodInvoker::Invoke<$method>(input, activation, result, apiStub_);
}
