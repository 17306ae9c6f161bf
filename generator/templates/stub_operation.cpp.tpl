void $svc::AsyncServiceStub::$op($params) {
  $method::Input input;
$copies
  ::Tovri::Stub::AsyncMethodInvoker::Invoke<$method>(input, activation, result, apiStub_);
}
