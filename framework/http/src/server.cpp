#include <tovri/http/server.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include <sys/socket.h>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/optional.hpp>

#include <tovri/http/wire.hpp>

#include "envelope.hpp"
#include "natural_road.hpp"
#include "security_detail.hpp"

namespace Tovri {
namespace Http {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using TlsStream = net::ssl::stream<beast::tcp_stream>;

template <class Stream>
struct IsTls : std::false_type {};
template <>
struct IsTls<TlsStream> : std::true_type {};

std::string Lower(beast::string_view text) {
  std::string out(text.data(), text.size());
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The media type of a Content-Type value, without parameters.
std::string MediaType(beast::string_view contentType) {
  std::string type = Lower(contentType.substr(0, contentType.find(';')));
  const auto notSpace = [](char c) { return c != ' ' && c != '\t'; };
  type.erase(type.begin(), std::find_if(type.begin(), type.end(), notSpace));
  type.erase(std::find_if(type.rbegin(), type.rend(), notSpace).base(), type.end());
  return type;
}

// How long a connection stays after a refusal sent before its request was
// read whole.
constexpr std::chrono::seconds kLingerTime{1};

// A request the parser refused as not HTTP (a bad start line, field, length
// or chunk) rather than a connection that ended, failed or timed out: it is
// answered with 400 instead of a silent close.
bool IsMalformed(const beast::error_code& ec) {
  if (!ec || ec.category() != http::make_error_code(http::error::bad_method).category()) return false;
  return ec.value() >= static_cast<int>(http::error::bad_line_ending) &&
         ec.value() <= static_cast<int>(http::error::multiple_content_length);
}

class SessionBase {
 public:
  virtual ~SessionBase() = default;
  // Closes the connection when no call is in flight, after its answer
  // otherwise.
  virtual void Drain() = 0;
  virtual void Close() = 0;
};

// What the server, its sessions and the provider's late answers share.
struct Shared {
  Shared(std::shared_ptr<Core::ApiProvider> p, ServerOptions o)
      : ioc(std::make_shared<net::io_context>()),
        provider(std::move(p)),
        local(std::dynamic_pointer_cast<Core::LocalProvider>(provider)),
        options(std::move(o)) {}

  // Posts `job` unless the server has stopped: after that nothing may be
  // queued on a context nobody runs.
  template <class Executor, class Job>
  bool Post(const Executor& executor, Job&& job) {
    std::lock_guard<std::mutex> lock(postMutex);
    if (stopped) return false;
    net::post(executor, std::forward<Job>(job));
    return true;
  }

  std::shared_ptr<net::io_context> ioc;
  std::shared_ptr<Core::ApiProvider> provider;
  // Null when the provider has no definitions: lossless calls only.
  std::shared_ptr<Core::LocalProvider> local;
  const ServerOptions options;
  std::shared_ptr<net::ssl::context> tls;  // null for plain HTTP
  Detail::Gate gate;
  std::mutex postMutex;
  bool stopped = false;
  std::atomic<bool> draining{false};
  std::atomic<int> callsInFlight{0};
  std::atomic<std::size_t> connections{0};
  std::mutex sessionsMutex;
  std::map<SessionBase*, std::weak_ptr<SessionBase>> sessions;
};

// One connection. Everything but the provider's answer callback runs on the
// stream's strand. The stream type is a parameter so that an encrypted
// stream can take the place of the plain one.
template <class Stream>
class Session final : public SessionBase, public std::enable_shared_from_this<Session<Stream>> {
 public:
  Session(std::shared_ptr<Shared> shared, Stream stream)
      : shared_(std::move(shared)), stream_(std::move(stream)), executor_(stream_.get_executor()) {
    beast::error_code ec;
    const auto peer = lowest().socket().remote_endpoint(ec);
    if (!ec) security_.SetPeer(peer.address(), peer.port());
  }

  ~Session() override {
    shared_->connections.fetch_sub(1);
    std::lock_guard<std::mutex> lock(shared_->sessionsMutex);
    shared_->sessions.erase(this);
  }

  void Start() {
    {
      std::lock_guard<std::mutex> lock(shared_->sessionsMutex);
      shared_->sessions[this] = this->shared_from_this();
    }
    net::dispatch(executor_, [self = this->shared_from_this()] {
      if constexpr (IsTls<Stream>::value) {
        self->lowest().expires_after(self->options().headerTimeout);
        self->stream_.async_handshake(net::ssl::stream_base::server, [self](beast::error_code ec) {
          // Lingering lets the alert reach the client instead of a reset.
          if (ec) return self->Linger();
          self->security_.SetSubject(Detail::PeerSubject(self->stream_.native_handle()));
          self->ReadHeader();
        });
      } else {
        self->ReadHeader();
      }
    });
  }

  void Drain() override {
    net::post(executor_, [self = this->shared_from_this()] {
      self->keepAlive_ = false;
      if (!self->inCall_ && !self->writing_) self->Shutdown();
    });
  }
  void Close() override {
    net::post(executor_, [self = this->shared_from_this()] { self->Shutdown(); });
  }

 private:
  using Self = Session<Stream>;
  const ServerOptions& options() const { return shared_->options; }
  auto& lowest() { return beast::get_lowest_layer(stream_); }

  void Shutdown() {
    if (closed_) return;
    closed_ = true;
    security_.End();
    beast::error_code ec;
    lowest().socket().shutdown(tcp::socket::shutdown_both, ec);
    lowest().close();
  }

  // After a refusal whose request was not read whole: stop sending, then
  // take in what the client still sends for a moment before closing, so
  // that the refusal is not lost to a reset. The moment is one deadline for
  // the whole linger: a client that keeps sending must not keep the
  // connection (and its place) for ever.
  void Linger() {
    if (closed_) return;
    if (!lingering_) {
      lingering_ = true;
      beast::error_code ec;
      lowest().socket().shutdown(tcp::socket::shutdown_send, ec);
      lowest().expires_after(kLingerTime);
    }
    buffer_.clear();
    lowest().async_read_some(buffer_.prepare(4096),
                             [self = this->shared_from_this()](beast::error_code e, std::size_t) {
                               if (e) return self->Shutdown();
                               self->Linger();
                             });
  }

  void ReadHeader() {
    if (closed_) return;
    lossless_ = false;
    output_.reset();
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(options().maxHeaderBytes));
    parser_->body_limit(options().maxBodyBytes);
    lowest().expires_after(options().headerTimeout);
    http::async_read_header(stream_, buffer_, *parser_,
                            beast::bind_front_handler(&Self::OnHeader, this->shared_from_this()));
  }

  void OnHeader(beast::error_code ec, std::size_t) {
    // Refusals from here on answer in the shape the client speaks.
    if (!ec || ec == http::error::body_limit) {
      lossless_ = MediaType(parser_->get()[http::field::content_type]) == kLosslessMediaType;
    }
    if (ec == http::error::header_limit) {
      security_.Begin("-", "-");
      return Reject(http::status::request_header_fields_too_large, kInvalidArgumentId,
                    "request header too large");
    }
    if (!ec || ec == http::error::body_limit)
      security_.Begin(parser_->get().method_string(), parser_->get().target());
    // A declared length beyond the limit is refused before the body comes.
    if (ec == http::error::body_limit) {
      return Reject(http::status::payload_too_large, kInvalidArgumentId, "request body too large");
    }
    if (IsMalformed(ec)) {
      security_.Begin("-", "-");
      return Reject(http::status::bad_request, kInvalidArgumentId, "malformed request: " + ec.message());
    }
    if (ec) return Shutdown();
    lowest().expires_after(options().bodyTimeout);
    const auto& header = parser_->get();
    if (beast::iequals(header[http::field::expect], "100-continue")) {
      auto proceed =
          std::make_shared<http::response<http::empty_body>>(http::status::continue_, header.version());
      http::async_write(stream_, *proceed,
                        [self = this->shared_from_this(), proceed](beast::error_code e, std::size_t) {
                          if (e) return self->Shutdown();
                          self->ReadBody();
                        });
      return;
    }
    ReadBody();
  }

  void ReadBody() {
    http::async_read(stream_, buffer_, *parser_,
                     beast::bind_front_handler(&Self::OnRequest, this->shared_from_this()));
  }

  void OnRequest(beast::error_code ec, std::size_t) {
    if (ec == http::error::body_limit) {
      return Reject(http::status::payload_too_large, kInvalidArgumentId, "request body too large");
    }
    if (IsMalformed(ec)) {
      return Reject(http::status::bad_request, kInvalidArgumentId, "malformed request: " + ec.message());
    }
    if (ec) return Shutdown();
    lowest().expires_never();
    Handle(parser_->release());
  }

  void Handle(http::request<http::string_body> request) {
    keepAlive_ = request.keep_alive() && !shared_->draining.load();
    version_ = request.version();
    beast::string_view target = request.target();
    target = target.substr(0, target.find('?'));
    switch (security_.Admit(request[http::field::authorization], target)) {
      case Detail::Gate::Verdict::kUnauthenticated:
        return Reject(http::status::unauthorized, kUnauthenticatedId, "a valid bearer token is required",
                      http::field::www_authenticate, "Bearer");
      case Detail::Gate::Verdict::kForbidden:
        return Reject(http::status::forbidden, kUnauthorizedId, "no role of the principal allows this call");
      default:
        break;
    }
    if (target == kHealthPath || target == kServicesPath) {
      lossless_ = false;
      if (request.method() != http::verb::get) {
        return Reject(http::status::method_not_allowed, kUnsupportedId, "use GET", http::field::allow, "GET");
      }
      if (target == kHealthPath) return Respond(http::status::ok, "{\"status\":\"ok\"}");
      if (!shared_->local) {
        return Reject(http::status::not_found, kNotFoundId, "this server has no definitions to list");
      }
      return Respond(http::status::ok, Detail::WriteDiscovery(*shared_->local));
    }
    const beast::string_view prefix(kCallPrefix);
    beast::string_view rest =
        target.starts_with(prefix) ? target.substr(prefix.size()) : beast::string_view();
    const std::size_t slash = rest.find('/');
    if (slash == beast::string_view::npos || slash == 0 || slash + 1 == rest.size() ||
        rest.find('/', slash + 1) != beast::string_view::npos) {
      return Reject(http::status::not_found, kNotFoundId, "no such path: " + std::string(target));
    }
    if (request.method() != http::verb::post) {
      return Reject(http::status::method_not_allowed, kUnsupportedId, "calls use POST", http::field::allow,
                    "POST");
    }
    const std::string service(rest.substr(0, slash));
    const std::string operation(rest.substr(slash + 1));
    Data::ValuePtr input;
    Detail::Properties properties;
    if (lossless_) {
      std::string error;
      if (!Detail::ReadRequest(request.body(), options().limits, input, properties, error)) {
        return Reject(http::status::bad_request, kInvalidArgumentId, error);
      }
    } else if (!ReadNaturalCall(request, service, operation, input, properties)) {
      return;  // refused
    }
    streaming_ =
        version_ == 11 && Lower(request[http::field::accept]).find(kNdjsonMediaType) != std::string::npos;
    StartCall(service, operation, input, std::move(properties));
  }

  // Reads a natural body against the operation's input definition; false
  // after refusing the request.
  bool ReadNaturalCall(const http::request<http::string_body>& request, const std::string& service,
                       const std::string& operation, Data::ValuePtr& input, Detail::Properties& properties) {
    if (MediaType(request[http::field::content_type]) != kJsonMediaType) {
      Reject(http::status::unsupported_media_type, kInvalidArgumentId,
             std::string("the content type must be ") + kJsonMediaType + " or " + kLosslessMediaType);
      return false;
    }
    if (!shared_->local) {
      Reject(http::status::unsupported_media_type, kUnsupportedId,
             std::string("this server has no definitions to read application/json with: send ") +
                 kLosslessMediaType,
             http::field::unknown, nullptr, kUnsupportedMediaMessage);
      return false;
    }
    Detail::OperationDefinitions definitions;
    if (!Detail::FindOperation(*shared_->local, service, operation, definitions)) {
      Reject(http::status::not_found, kNotFoundId, "no operation " + operation + " in service " + service,
             http::field::unknown, nullptr, kUnknownOperationMessage);
      return false;
    }
    std::list<BaseMessage> messages;
    input = Detail::ReadNaturalRequest(request.body(), definitions.input, options().naturalLimits, properties,
                                       messages);
    if (!input) {
      RejectWith(http::status::bad_request,
                 Data::ErrorValue::Create(kInvalidArgumentId, std::move(messages)));
      return false;
    }
    output_ = definitions.output;
    return true;
  }

  void StartCall(const std::string& service, const std::string& operation, const Data::ValuePtr& input,
                 Detail::Properties properties) {
    inCall_ = true;
    headerSent_ = false;
    shared_->callsInFlight.fetch_add(1);
    auto activation = std::make_shared<Core::AsyncActivation>();
    activation->properties = std::move(properties);
    security_.AddTo(*activation->executionContext);
    auto answered = std::make_shared<std::atomic<bool>>(false);
    auto self = this->shared_from_this();
    Core::AsyncApiResultCb callback([self, answered](const std::shared_ptr<const Core::MethodResult>& result,
                                                     const Progress& progress,
                                                     Core::AsyncApiResultCb::Continuation&&) {
      if (!result) {
        if (!answered->load())
          self->shared_->Post(self->executor_, [self, progress] { self->OnProgress(progress); });
        return;
      }
      if (answered->exchange(true)) return;
      if (!self->shared_->Post(self->executor_, [self, result] { self->OnFinal(result); })) {
        self->shared_->callsInFlight.fetch_sub(1);
      }
    });
    const auto method =
        Core::MethodIdentifier::GetInstance(Core::InterfaceIdentifier::GetInstance(service), operation);
    activation_ = activation;
    try {
      shared_->provider->Invoke(method, input, activation, callback);
    } catch (const std::exception& e) {
      Fallback(answered, e.what());
    } catch (...) {
      Fallback(answered, "unknown exception");
    }
    if (inCall_ && !watching_) WatchPeer();
  }

  // While a call is in flight, waits for the socket to turn readable without
  // reading from it, then peeks: the end of the stream (or a reset) means
  // the client left, and the call is cancelled. Bytes to read are the
  // client's next request: they stay for the next header read. Nothing to
  // read yet is a readiness event left over from the request's own read:
  // wait again.
  void WatchPeer() {
    watching_ = true;
    lowest().socket().async_wait(
        tcp::socket::wait_read, [self = this->shared_from_this()](beast::error_code ec) {
          self->watching_ = false;
          if (self->resumeAfterWatch_) {
            self->resumeAfterWatch_ = false;
            return self->ReadHeader();
          }
          if (ec || !self->inCall_ || self->closed_) return;
          char byte = 0;
          const ssize_t n =
              ::recv(self->lowest().socket().native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
          if (n > 0) return;
          if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return self->WatchPeer();
          self->PeerLeft();
        });
  }

  void PeerLeft() {
    auto activation = std::move(activation_);
    Shutdown();  // the answer, when it comes, finds the connection closed
    if (activation && activation->onCancel) activation->onCancel();
  }

  void Fallback(const std::shared_ptr<std::atomic<bool>>& answered, const std::string& what) {
    if (answered->exchange(true)) return;
    auto result = Core::MethodResult::GetInstance(
        nullptr,
        Detail::MakeError(kInternalServerErrorId, kProviderFailedMessage, "the provider failed", what));
    auto self = this->shared_from_this();
    if (!shared_->Post(executor_, [self, result] { self->OnFinal(result); }))
      shared_->callsInFlight.fetch_sub(1);
  }

  void OnProgress(const Progress& progress) {
    if (!inCall_ || !streaming_ || closed_) return;
    SendStreamHeader();
    QueueChunk(Detail::WriteProgress(progress) + "\n");
  }

  void OnFinal(const std::shared_ptr<const Core::MethodResult>& result) {
    shared_->callsInFlight.fetch_sub(1);
    inCall_ = false;
    activation_.reset();
    if (closed_) return;
    if (shared_->draining.load()) keepAlive_ = false;
    std::string errorId;
    std::string body = AnswerText(*result, errorId);
    if (streaming_) {
      SendStreamHeader();
      QueueChunk(std::move(body) + "\n");
      Out last;
      last.kind = Out::kLast;
      finishAfterWrites_ = true;
      Queue(std::move(last));
      return;
    }
    const auto status =
        errorId.empty() ? http::status::ok : static_cast<http::status>(HttpStatusForError(errorId));
    Respond(status, std::move(body));
  }

  // The final answer in the request's shape; `errorId` names its error.
  std::string AnswerText(const Core::MethodResult& result, std::string& errorId) const {
    if (!lossless_) return Detail::WriteNaturalAnswer(result, output_, errorId);
    errorId = result.GetError() ? result.GetError()->GetId() : std::string();
    return Detail::WriteAnswer(result);
  }

  // A refusal before any call: an error answer, then the connection closes
  // unless the request was read whole and the client keeps it alive.
  void Reject(http::status status, const char* errorId, const std::string& detail,
              http::field field = http::field::unknown, const char* value = nullptr,
              const char* messageId = nullptr) {
    const bool denied = status == http::status::unauthorized || status == http::status::forbidden;
    if (!messageId) messageId = denied ? kAccessDeniedMessage : kBadRequestMessage;
    RejectWith(status, Detail::MakeError(errorId, messageId, "request refused", detail), field, value);
  }

  void RejectWith(http::status status, const std::shared_ptr<const Data::ErrorValue>& error,
                  http::field field = http::field::unknown, const char* value = nullptr) {
    if (closed_) return;
    if (!parser_ || !parser_->is_done()) {
      keepAlive_ = false;
      linger_ = true;
    }
    if (version_ == 0) version_ = 11;
    Respond(status,
            lossless_ ? Detail::WriteAnswer(*Core::MethodResult::GetInstance(nullptr, error))
                      : WriteNaturalError(*error),
            field, value);
  }

  void Respond(http::status status, std::string body, http::field field = http::field::unknown,
               const char* value = nullptr) {
    security_.Answered(static_cast<int>(status));
    Out out;
    out.kind = Out::kResponse;
    out.response = std::make_shared<http::response<http::string_body>>(status, version_ ? version_ : 11);
    out.response->set(http::field::content_type, lossless_ ? kLosslessMediaType : kJsonMediaType);
    out.response->set(http::field::cache_control, "no-store");
    if (value) out.response->set(field, value);
    out.response->keep_alive(keepAlive_);
    out.response->body() = std::move(body);
    out.response->prepare_payload();
    finishAfterWrites_ = true;
    Queue(std::move(out));
  }

  void SendStreamHeader() {
    if (headerSent_) return;
    headerSent_ = true;
    security_.Answered(200);
    Out out;
    out.kind = Out::kHeader;
    out.header = std::make_shared<http::response<http::empty_body>>(http::status::ok, version_);
    out.header->set(http::field::content_type, kNdjsonMediaType);
    out.header->set(http::field::cache_control, "no-store");
    out.header->keep_alive(keepAlive_);
    out.header->chunked(true);
    out.serializer = std::make_shared<http::response_serializer<http::empty_body>>(*out.header);
    Queue(std::move(out));
  }

  void QueueChunk(std::string text) {
    Out out;
    out.kind = Out::kChunk;
    out.text = std::make_shared<std::string>(std::move(text));
    Queue(std::move(out));
  }

  // A piece of an answer waiting to be written.
  struct Out {
    enum Kind { kResponse, kHeader, kChunk, kLast } kind = kResponse;
    std::shared_ptr<http::response<http::string_body>> response;
    std::shared_ptr<http::response<http::empty_body>> header;
    std::shared_ptr<http::response_serializer<http::empty_body>> serializer;
    std::shared_ptr<std::string> text;
  };

  void Queue(Out out) {
    out_.push_back(std::move(out));
    if (!writing_) WriteNext();
  }

  void WriteNext() {
    if (out_.empty()) {
      writing_ = false;
      if (finishAfterWrites_ && !inCall_) {
        finishAfterWrites_ = false;
        security_.End();
        if (keepAlive_ && !shared_->draining.load()) {
          if (!watching_) return ReadHeader();
          // Stop watching first: the header read must be the only one.
          resumeAfterWatch_ = true;
          beast::error_code ec;
          lowest().socket().cancel(ec);
        } else if (linger_) {
          Linger();
        } else {
          Shutdown();
        }
      }
      return;
    }
    writing_ = true;
    // A reader that does not take the answer in time loses it.
    lowest().expires_after(options().bodyTimeout);
    auto done = beast::bind_front_handler(&Self::OnWritten, this->shared_from_this());
    Out& out = out_.front();
    switch (out.kind) {
      case Out::kResponse:
        http::async_write(stream_, *out.response, std::move(done));
        break;
      case Out::kHeader:
        http::async_write_header(stream_, *out.serializer, std::move(done));
        break;
      case Out::kChunk:
        net::async_write(stream_, http::make_chunk(net::buffer(*out.text)), std::move(done));
        break;
      case Out::kLast:
        net::async_write(stream_, http::make_chunk_last(), std::move(done));
        break;
    }
  }

  void OnWritten(beast::error_code ec, std::size_t) {
    out_.pop_front();
    if (ec) {
      out_.clear();
      writing_ = false;
      return Shutdown();
    }
    WriteNext();
  }

  std::shared_ptr<Shared> shared_;
  Stream stream_;
  net::any_io_executor executor_;
  Detail::ConnectionSecurity security_{shared_->gate, shared_->options.accessLog};
  beast::flat_buffer buffer_;
  boost::optional<http::request_parser<http::string_body>> parser_;
  std::deque<Out> out_;
  std::shared_ptr<Core::AsyncActivation> activation_;  // of the call in flight
  Data::DefinitionPtr output_;                         // natural calls: what the answer is written against
  unsigned version_ = 11;
  bool lossless_ = false;
  bool watching_ = false;
  bool resumeAfterWatch_ = false;
  bool keepAlive_ = true;
  bool streaming_ = false;
  bool inCall_ = false;
  bool headerSent_ = false;
  bool writing_ = false;
  bool finishAfterWrites_ = false;
  bool linger_ = false;
  bool lingering_ = false;
  bool closed_ = false;
};

class Listener : public std::enable_shared_from_this<Listener> {
 public:
  explicit Listener(std::shared_ptr<Shared> shared)
      : shared_(std::move(shared)), acceptor_(net::make_strand(*shared_->ioc)) {}

  bool Open(const tcp::endpoint& endpoint, std::string& error) {
    beast::error_code ec;
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec && endpoint.address().is_v6()) acceptor_.set_option(net::ip::v6_only(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
      error = "cannot listen on " + endpoint.address().to_string() + " port " +
              std::to_string(endpoint.port()) + ": " + ec.message();
      return false;
    }
    return true;
  }

  std::uint16_t Port() const {
    beast::error_code ec;
    return acceptor_.local_endpoint(ec).port();
  }

  void Accept() {
    acceptor_.async_accept(net::make_strand(*shared_->ioc),
                           beast::bind_front_handler(&Listener::OnAccept, shared_from_this()));
  }

  void Close() {
    net::post(acceptor_.get_executor(), [self = shared_from_this()] {
      beast::error_code ec;
      self->acceptor_.close(ec);
    });
  }

 private:
  void OnAccept(beast::error_code ec, tcp::socket socket) {
    if (!acceptor_.is_open()) return;
    if (!ec) {
      if (shared_->draining.load() || shared_->connections.load() >= shared_->options.maxConnections) {
        socket.close(ec);
      } else {
        shared_->connections.fetch_add(1);
        // An answer goes out in several writes (header, chunks); Nagle's
        // algorithm would hold each small one back until the last is acked.
        socket.set_option(tcp::no_delay(true), ec);
        if (shared_->tls) {
          std::make_shared<Session<TlsStream>>(shared_,
                                               TlsStream(beast::tcp_stream(std::move(socket)), *shared_->tls))
              ->Start();
        } else {
          std::make_shared<Session<beast::tcp_stream>>(shared_, beast::tcp_stream(std::move(socket)))
              ->Start();
        }
      }
    }
    Accept();
  }

  std::shared_ptr<Shared> shared_;
  tcp::acceptor acceptor_;
};

}  // namespace

struct Server::Impl {
  std::shared_ptr<Shared> shared;
  std::vector<std::shared_ptr<Listener>> listeners;
  std::vector<ListenAddress> bound;
  std::vector<std::thread> threads;
  std::atomic<int> running{0};
  boost::optional<net::executor_work_guard<net::io_context::executor_type>> work;
  bool started = false;
  bool stopped = false;
};

Server::Server(std::shared_ptr<Core::ApiProvider> provider, ServerOptions options) : impl_(new Impl) {
  impl_->shared = std::make_shared<Shared>(std::move(provider), std::move(options));
}

Server::Server(std::shared_ptr<Core::LocalProvider> provider, ServerOptions options)
    : Server(std::shared_ptr<Core::ApiProvider>(std::move(provider)), std::move(options)) {}

Server::~Server() { Stop(std::chrono::milliseconds(0)); }

bool Server::Start(std::string& error) {
  if (impl_->started) {
    error = "the server was started already";
    return false;
  }
  Shared& shared = *impl_->shared;
  const ServerOptions& options = shared.options;
  if (options.tls) {
    shared.tls = Detail::MakeServerTlsContext(*options.tls, error);
    if (!shared.tls) return false;
  }
  if (!shared.gate.Load(options.tokenFile, options.roles, error)) return false;
  for (const auto& address : options.listen) {
    beast::error_code ec;
    const auto ip = net::ip::make_address(address.address, ec);
    if (ec) {
      error = "not an IP address: \"" + address.address + "\"";
    } else if (!ip.is_loopback() && !options.allowNonLoopback && !options.tls) {
      error = "plain HTTP on " + address.address + " (not a loopback address) was not allowed";
    } else {
      auto listener = std::make_shared<Listener>(impl_->shared);
      if (listener->Open(tcp::endpoint(ip, address.port), error)) {
        impl_->listeners.push_back(listener);
        impl_->bound.push_back(ListenAddress{address.address, listener->Port()});
        continue;
      }
    }
    impl_->listeners.clear();
    impl_->bound.clear();
    return false;
  }
  impl_->started = true;
  impl_->work.emplace(impl_->shared->ioc->get_executor());
  for (auto& listener : impl_->listeners) listener->Accept();
  const int threads = std::max(1, options.ioThreads);
  for (int i = 0; i < threads; ++i) {
    impl_->running.fetch_add(1);
    impl_->threads.emplace_back([this, ioc = impl_->shared->ioc] {
      ioc->run();
      impl_->running.fetch_sub(1);
    });
  }
  return true;
}

bool Server::ReloadTokens(std::string& error) {
  const ServerOptions& options = impl_->shared->options;
  return impl_->shared->gate.Load(options.tokenFile, options.roles, error);
}

std::vector<ListenAddress> Server::BoundAddresses() const { return impl_->bound; }

void Server::Stop(std::chrono::milliseconds grace) {
  if (!impl_->started || impl_->stopped) return;
  impl_->stopped = true;
  Shared& shared = *impl_->shared;
  shared.draining.store(true);
  for (auto& listener : impl_->listeners) listener->Close();
  const auto each = [&shared](void (SessionBase::*action)()) {
    std::vector<std::shared_ptr<SessionBase>> sessions;
    {
      std::lock_guard<std::mutex> lock(shared.sessionsMutex);
      for (auto& entry : shared.sessions) {
        if (auto session = entry.second.lock()) sessions.push_back(std::move(session));
      }
    }
    for (auto& session : sessions) ((*session).*action)();
  };
  each(&SessionBase::Drain);
  const auto deadline = std::chrono::steady_clock::now() + grace;
  while (shared.callsInFlight.load() > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  each(&SessionBase::Close);
  {
    std::lock_guard<std::mutex> lock(shared.postMutex);
    shared.stopped = true;
  }
  impl_->work.reset();
  // The closed connections wind down by themselves; a straggler is cut off.
  const auto windDown = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (impl_->running.load() > 0 && std::chrono::steady_clock::now() < windDown) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  shared.ioc->stop();
  for (auto& thread : impl_->threads) thread.join();
  impl_->threads.clear();
  // Handlers still queued hold sessions, which hold the context: run what is
  // ready so that they let go.
  shared.ioc->restart();
  for (int i = 0; i < 100 && shared.ioc->poll() > 0; ++i) {
  }
  impl_->listeners.clear();
}

}  // namespace Http
}  // namespace Tovri
