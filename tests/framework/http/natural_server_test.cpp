// The server's natural road and discovery path, over a LocalProvider with
// interfaces made here (so every definition shape is at hand), and a client
// that leaves while its call is in flight.
#include <atomic>
#include <chrono>
#include <future>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <dral/provider/method_signal.hpp>
#include <tovri/core/local_provider.hpp>
#include <tovri/core/result_types.hpp>
#include <tovri/http/client.hpp>
#include <tovri/http/lossless_json.hpp>
#include <tovri/http/natural_json.hpp>
#include <tovri/http/wire.hpp>

#include "http_test_support.hpp"

namespace {

using namespace Tovri;
using Data::DefinitionPtr;
using HttpTest::Exchange;
using HttpTest::RunningServer;
namespace http = boost::beast::http;

constexpr const char* kService = "com.example.samples";

DefinitionPtr Text() { return Data::DataDefinition::Create<std::string>(); }

// A structure with every shape the natural reader treats apart: an optional
// list, a map of integers to blobs, an enumeration (a string) and an optional
// nested structure.
DefinitionPtr SampleDefinition() {
  const auto entry = Data::StructDefinition::GetInstance(
      "map-entry", {{"key", Data::DataDefinition::Create<long long>()},
                    {"value", Data::DataDefinition::Create<Data::Blob>()}});
  const auto inner =
      Data::StructDefinition::GetInstance("inner", {{"n", Data::DataDefinition::Create<long long>()}});
  return Data::StructDefinition::GetInstance(
      "sample", {{"name", Text()},
                 {"tags", Data::OptionalDefinition::GetInstance(Data::ListDefinition::GetInstance(Text()))},
                 {"pcrs", Data::ListDefinition::GetInstance(entry)},
                 {"mode", Text()},
                 {"inner", Data::OptionalDefinition::GetInstance(inner)}});
}

// Declares no fields: the check lets an error's messages through.
DefinitionPtr NotFoundDefinition() { return Data::StructDefinition::GetInstance(Http::kNotFoundId, {}); }

// A node holding an optional node: a definition that refers to itself.
DefinitionPtr NodeDefinition() {
  auto ref = Data::StructRefDefinition::GetInstance("node");
  auto node = Data::StructDefinition::GetInstance(
      "node", {{"label", Text()}, {"next", Data::OptionalDefinition::GetInstance(ref)}});
  ref->Bind(node);
  return node;
}

std::shared_ptr<Provider::AsyncApiMethodSignal> Method(const std::string& name, DefinitionPtr input,
                                                       DefinitionPtr output,
                                                       Provider::AsyncApiMethodSignal::Handler handler,
                                                       std::list<DefinitionPtr> errors = {}) {
  auto method = Provider::AsyncApiMethodSignal::GetInstance(name, input, output, errors, nullptr);
  method->Connect(std::move(handler));
  return method;
}

Data::ValuePtr Field(const Data::ValuePtr& structure, const std::string& name) {
  const Data::ValuePtr* slot = static_cast<const Data::CompoundValue&>(*structure).FindSlot(name);
  return slot ? *slot : nullptr;
}

// "echo" answers its input's spec; "missing" answers not_found; "hang"
// answers only when cancelled, counting the cancellations; "walk" takes a
// self-referring node.
struct Samples {
  Samples() {
    const DefinitionPtr sample = SampleDefinition();
    const auto echoInput = Data::StructDefinition::GetInstance("echo_input", {{"spec", sample}});
    const auto empty = Data::StructDefinition::GetInstance("empty_input", {});
    const auto node = NodeDefinition();
    const auto walkInput = Data::StructDefinition::GetInstance("walk_input", {{"node", node}});
    auto* self = this;
    Provider::AsyncApiInterface::Methods methods{
        Method("echo", echoInput, sample,
               [](const Data::ValuePtr& input, const auto&, const Provider::AsyncApiMethod::ResultCb& cb) {
                 cb(Field(input, "spec"), nullptr, FinalProgress(), nullptr);
               }),
        Method("missing", empty, Data::DataDefinition::Create<Void>(),
               [](const auto&, const auto&, const Provider::AsyncApiMethod::ResultCb& cb) {
                 cb(boost::none,
                    Data::ErrorValue::Create(Http::kNotFoundId,
                                             std::list<BaseMessage>{BaseMessage("x.gone", "Gone.", {})}),
                    FinalProgress(), nullptr);
               },
               {NotFoundDefinition()}),
        Method("hang", empty, Data::DataDefinition::Create<Void>(),
               [self](const auto&, const std::shared_ptr<Core::AsyncActivation>& activation,
                      const Provider::AsyncApiMethod::ResultCb& cb) {
                 self->started.fetch_add(1);
                 activation->onCancel = [self, cb] {
                   self->cancelled.fetch_add(1);
                   cb(Data::ValuePtr(Data::VoidValue::GetInstance()), nullptr, FinalProgress(), nullptr);
                 };
               }),
        Method("walk", walkInput, node,
               [](const Data::ValuePtr& input, const auto&, const Provider::AsyncApiMethod::ResultCb& cb) {
                 cb(Field(input, "node"), nullptr, FinalProgress(), nullptr);
               }),
    };
    provider->Register(
        Provider::AsyncApiInterface::GetInstance(Core::InterfaceIdentifier::GetInstance(kService), methods));
  }
  std::shared_ptr<Core::LocalProvider> provider = std::make_shared<Core::LocalProvider>();
  std::atomic<int> started{0};
  std::atomic<int> cancelled{0};
};

std::string Path(const std::string& operation) { return std::string("/v1/") + kService + "/" + operation; }

// The answer envelope as a definition, so that an answer is compared as a
// value rather than as text.
Data::ValuePtr ReadAnswer(const std::string& body, const DefinitionPtr& output) {
  const auto answer = Data::StructDefinition::GetInstance("answer", {{"output", output}});
  Http::NaturalValue read = Http::ReadNatural(body, *answer);
  EXPECT_TRUE(read.ok()) << body << "\n"
                         << (read.messages.empty() ? "" : read.messages.front().defaultMessage);
  return read.ok() ? Field(read.value, "output") : nullptr;
}

TEST(HttpNatural, NestedInputIsReadAndAnsweredAsInProcess) {
  Samples samples;
  RunningServer running(samples.provider);
  const std::string spec = R"({"name": "s1", "tags": ["a", "b"], "pcrs": {"0": "qg==", "10": "+/8="},
                              "mode": "NATIVE", "inner": {"n": -7}})";
  HttpTest::Reply reply = Exchange(running.port, http::verb::post, Path("echo"),
                                   R"({"input": {"spec": )" + spec + R"(}, "properties": {"p": "v"}})");
  ASSERT_EQ(reply.status, 200) << reply.body;
  EXPECT_EQ(reply.contentType, "application/json");

  // The same input in process, and through our client's lossless road.
  const auto echoInput = Data::StructDefinition::GetInstance("echo_input", {{"spec", SampleDefinition()}});
  Http::NaturalValue input = Http::ReadNatural(R"({"spec": )" + spec + "}", *echoInput);
  ASSERT_TRUE(input.ok());
  std::shared_ptr<const Core::MethodResult> inProcess;
  const auto method =
      Core::MethodIdentifier::GetInstance(Core::InterfaceIdentifier::GetInstance(kService), "echo");
  samples.provider->Invoke(method, input.value, std::make_shared<Core::AsyncActivation>(),
                           [&](const auto& result, const Progress&, auto&&) {
                             if (result) inProcess = result;
                           });
  ASSERT_TRUE(inProcess && inProcess->GetOutput());
  const Data::ValuePtr answered = ReadAnswer(reply.body, SampleDefinition());
  ASSERT_TRUE(answered);
  EXPECT_TRUE(Data::Equal(*answered, *inProcess->GetOutput()));
  EXPECT_EQ(reply.body,
            "{\"output\":" + Http::WriteNatural(inProcess->GetOutput(), *SampleDefinition()).text + "}");

  Http::ClientOptions options;
  options.port = running.port;
  Http::Client client(options);
  std::promise<std::shared_ptr<const Core::MethodResult>> lossless;
  client.Invoke(method, input.value, std::make_shared<Core::AsyncActivation>(),
                [&](const auto& result, const Progress&, auto&&) {
                  if (result) lossless.set_value(result);
                });
  auto future = lossless.get_future();
  ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  const auto viaClient = future.get();
  ASSERT_TRUE(viaClient->GetOutput());
  EXPECT_TRUE(Data::Equal(*viaClient->GetOutput(), *inProcess->GetOutput()));
}

TEST(HttpNatural, DeclaredErrorsAndStreamsAreNatural) {
  Samples samples;
  RunningServer running(samples.provider);
  HttpTest::Reply missing = Exchange(running.port, http::verb::post, Path("missing"), R"({"input": {}})");
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(
      missing.body,
      R"({"error":"com.corvane.tovri.std.errors.not_found","messages":[{"args":[],"default_message":"Gone.","id":"x.gone"}]})");
  HttpTest::Reply streamed = Exchange(running.port, http::verb::post, Path("echo"),
                                      R"({"input": {"spec": {"name": "s", "pcrs": [], "mode": "M"}}})",
                                      "application/json", "application/x-ndjson");
  EXPECT_EQ(streamed.status, 200);
  EXPECT_EQ(streamed.contentType, "application/x-ndjson");
  EXPECT_EQ(streamed.body, "{\"output\":{\"mode\":\"M\",\"name\":\"s\",\"pcrs\":{}}}\n");
}

TEST(HttpNatural, RefusesBadBodiesNamingTheJsonPath) {
  Samples samples;
  RunningServer running(samples.provider);
  struct Row {
    const char* what;
    std::string operation, body, contentType;
    int status;
    std::string expected;  // in the answer body
  };
  const std::string json = "application/json";
  const std::vector<Row> table = {
      {"mistyped field", "echo", R"({"input": {"spec": {"name": 5, "pcrs": [], "mode": "M"}}})", json, 400,
       "$.input.spec.name: expected a string"},
      {"bad base64 in a map", "echo",
       R"({"input": {"spec": {"name": "n", "pcrs": {"1": "%"}, "mode": "M"}}})", json, 400,
       R"($.input.spec.pcrs[\"1\"])"},
      {"unknown member", "echo", R"({"input": {"spec": {"name": "n", "pcrs": [], "mode": "M", "x": 1}}})",
       json, 400, "$.input.spec.x"},
      {"missing input", "echo", "{}", json, 400, "\\\"input\\\" is missing"},
      {"stray envelope member", "missing", R"({"input": {}, "output": 1})", json, 400, "$.output"},
      {"malformed JSON", "missing", R"({"input": )", json, 400, "not JSON"},
      {"lossless body sent as natural", "missing", R"({"input": ["struct","empty_input",0]})", json, 400,
       "$.input: expected an object"},
      {"other media type", "missing", R"({"input": {}})", "text/plain", 415, "application/json"},
      {"no media type", "missing", R"({"input": {}})", "", 415, "application/json"},
      {"unknown operation", "nothing", R"({"input": {}})", json, 404, Http::kUnknownOperationMessage},
  };
  for (const Row& row : table) {
    HttpTest::Reply reply =
        Exchange(running.port, http::verb::post, Path(row.operation), row.body, row.contentType);
    EXPECT_EQ(reply.status, row.status) << row.what << ": " << reply.body;
    EXPECT_EQ(reply.contentType, "application/json") << row.what;
    EXPECT_NE(reply.body.find(row.expected), std::string::npos) << row.what << ": " << reply.body;
    if (row.status == 400) {
      EXPECT_NE(reply.body.find(Http::kInvalidArgumentId), std::string::npos) << row.what;
    }
  }
}

TEST(HttpNatural, AGenericProviderServesTheLosslessShapeOnly) {
  auto generic = std::make_shared<HttpTest::ScriptedProvider>(
      [](const auto&, const Data::ValuePtr& input, const auto&, const Core::AsyncApiResultCb& cb) {
        cb(Core::MethodResult::GetInstance(input, nullptr), FinalProgress());
      });
  RunningServer running(generic);
  HttpTest::Reply natural = Exchange(running.port, http::verb::post, "/v1/svc/op", R"({"input": {}})");
  EXPECT_EQ(natural.status, 415);
  EXPECT_NE(natural.body.find(Http::kLosslessMediaType), std::string::npos) << natural.body;
  EXPECT_EQ(Exchange(running.port, http::verb::get, Http::kServicesPath, "", "").status, 404);
  const std::string value = Http::ToLosslessJson(*Data::IntegerValue::GetInstance(3));
  HttpTest::Reply lossless = Exchange(running.port, http::verb::post, "/v1/svc/op",
                                      "{\"input\":" + value + "}", Http::kLosslessMediaType);
  EXPECT_EQ(lossless.status, 200);
  EXPECT_EQ(lossless.contentType, Http::kLosslessMediaType);
  EXPECT_EQ(lossless.body, "{\"output\":" + value + "}");
  EXPECT_EQ(generic->Calls(), 1);
}

TEST(HttpDiscovery, ListsOperationsErrorsAndSelfReferringDefinitionsOnce) {
  Samples samples;
  RunningServer running(samples.provider);
  HttpTest::Reply reply = Exchange(running.port, http::verb::get, Http::kServicesPath, "", "");
  ASSERT_EQ(reply.status, 200);
  EXPECT_EQ(reply.contentType, "application/json");
  const std::string& body = reply.body;
  const auto count = [&body](const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = body.find(what); at != std::string::npos; at = body.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count(std::string("\"id\":\"") + kService + "\""), 1u);
  for (const char* operation : {"echo", "missing", "hang", "walk"}) {
    EXPECT_EQ(count(std::string("{\"name\":\"") + operation + "\""), 1u) << operation;
  }
  // The declared error by name, its definition in the table.
  EXPECT_NE(body.find(R"("errors":[{"type":"structure","name":"com.corvane.tovri.std.errors.not_found"}])"),
            std::string::npos)
      << body;
  EXPECT_NE(
      body.find(
          R"("com.corvane.tovri.std.errors.not_found":{"type":"structure","name":"com.corvane.tovri.std.errors.not_found","fields":{}})"),
      std::string::npos);
  // The node refers to itself by name and is defined once.
  EXPECT_NE(
      body.find(
          R"("node":{"type":"structure","name":"node","fields":{"label":{"type":"string"},"next":{"type":"optional","element":{"type":"structure","name":"node"}}}})"),
      std::string::npos)
      << body;
  EXPECT_EQ(count("\"fields\":{\"label\""), 1u);
  // A map is described as one.
  EXPECT_NE(body.find(R"("pcrs":{"type":"map","key":{"type":"integer"},"value":{"type":"blob"}})"),
            std::string::npos);

  // And a self-referring value crosses the natural road both ways.
  const std::string chain = R"({"label":"a","next":{"label":"b","next":{"label":"c"}}})";
  HttpTest::Reply walked =
      Exchange(running.port, http::verb::post, Path("walk"), "{\"input\":{\"node\":" + chain + "}}");
  EXPECT_EQ(walked.status, 200);
  EXPECT_EQ(walked.body, "{\"output\":" + chain + "}");
}

// A client that closes its connection while the call runs: the call is
// cancelled once, and the answer it then gives goes nowhere.
TEST(HttpServerDisconnect, CancelsTheCallInFlightOnce) {
  Samples samples;
  RunningServer running(samples.provider);
  for (int round = 1; round <= 3; ++round) {
    {
      boost::asio::io_context ioc;
      boost::asio::ip::tcp::socket socket(ioc);
      socket.connect({boost::asio::ip::make_address("127.0.0.1"), running.port});
      const std::string body = R"({"input": {}})";
      const std::string request =
          "POST " + Path("hang") +
          " HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: " +
          std::to_string(body.size()) + "\r\n\r\n" + body;
      boost::asio::write(socket, boost::asio::buffer(request));
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (samples.started.load() < round && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      ASSERT_EQ(samples.started.load(), round);
      EXPECT_EQ(samples.cancelled.load(), round - 1);  // nothing yet
    }                                                  // closed here
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (samples.cancelled.load() < round && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(samples.cancelled.load(), round);
  }
  // The server still serves, and a kept-alive connection whose call ends
  // normally is not taken for one that left.
  HttpTest::Reply after = Exchange(running.port, http::verb::post, Path("missing"), R"({"input": {}})");
  EXPECT_EQ(after.status, 404);
  running.server->Stop();
  EXPECT_EQ(samples.cancelled.load(), 3);
}

}  // namespace
