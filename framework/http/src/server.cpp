#include <tovri/http/server.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/optional.hpp>

#include <tovri/http/wire.hpp>

#include "envelope.hpp"

namespace Tovri {
namespace Http {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

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
      : ioc(std::make_shared<net::io_context>()), provider(std::move(p)), options(std::move(o)) {}

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
  const ServerOptions options;
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
      : shared_(std::move(shared)), stream_(std::move(stream)), executor_(stream_.get_executor()) {}

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
    net::dispatch(executor_, [self = this->shared_from_this()] { self->ReadHeader(); });
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
    beast::error_code ec;
    lowest().socket().shutdown(tcp::socket::shutdown_both, ec);
    lowest().close();
  }

  // After a refusal whose request was not read whole: stop sending, then
  // take in what the client still sends for a moment before closing, so
  // that the refusal is not lost to a reset.
  void Linger() {
    if (closed_) return;
    beast::error_code ec;
    lowest().socket().shutdown(tcp::socket::shutdown_send, ec);
    lowest().expires_after(std::chrono::seconds(1));
    buffer_.clear();
    lowest().async_read_some(buffer_.prepare(4096),
                             [self = this->shared_from_this()](beast::error_code e, std::size_t) {
                               if (e) return self->Shutdown();
                               self->Linger();
                             });
  }

  void ReadHeader() {
    if (closed_) return;
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(options().maxHeaderBytes));
    parser_->body_limit(options().maxBodyBytes);
    lowest().expires_after(options().headerTimeout);
    http::async_read_header(stream_, buffer_, *parser_,
                            beast::bind_front_handler(&Self::OnHeader, this->shared_from_this()));
  }

  void OnHeader(beast::error_code ec, std::size_t) {
    if (ec == http::error::header_limit) {
      return Reject(http::status::request_header_fields_too_large, kInvalidArgumentId,
                    "request header too large");
    }
    // A declared length beyond the limit is refused before the body comes.
    if (ec == http::error::body_limit) {
      return Reject(http::status::payload_too_large, kInvalidArgumentId, "request body too large");
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
    if (ec) return Shutdown();
    lowest().expires_never();
    Handle(parser_->release());
  }

  void Handle(http::request<http::string_body> request) {
    keepAlive_ = request.keep_alive() && !shared_->draining.load();
    version_ = request.version();
    beast::string_view target = request.target();
    target = target.substr(0, target.find('?'));
    if (target == kHealthPath) {
      if (request.method() != http::verb::get) {
        return Reject(http::status::method_not_allowed, kUnsupportedId, "use GET", "GET");
      }
      return Respond(http::status::ok, "{\"status\":\"ok\"}");
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
      return Reject(http::status::method_not_allowed, kUnsupportedId, "calls use POST", "POST");
    }
    if (MediaType(request[http::field::content_type]) != kJsonMediaType) {
      return Reject(http::status::bad_request, kInvalidArgumentId,
                    "the content type must be application/json");
    }
    Data::ValuePtr input;
    Detail::Properties properties;
    std::string error;
    if (!Detail::ReadRequest(request.body(), options().limits, input, properties, error)) {
      return Reject(http::status::bad_request, kInvalidArgumentId, error);
    }
    streaming_ =
        version_ == 11 && Lower(request[http::field::accept]).find(kNdjsonMediaType) != std::string::npos;
    StartCall(std::string(rest.substr(0, slash)), std::string(rest.substr(slash + 1)), input,
              std::move(properties));
  }

  void StartCall(const std::string& service, const std::string& operation, const Data::ValuePtr& input,
                 Detail::Properties properties) {
    inCall_ = true;
    headerSent_ = false;
    shared_->callsInFlight.fetch_add(1);
    auto activation = std::make_shared<Core::AsyncActivation>();
    activation->properties = std::move(properties);
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
    try {
      shared_->provider->Invoke(method, input, activation, callback);
    } catch (const std::exception& e) {
      Fallback(answered, e.what());
    } catch (...) {
      Fallback(answered, "unknown exception");
    }
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
    if (closed_) return;
    if (shared_->draining.load()) keepAlive_ = false;
    if (streaming_) {
      SendStreamHeader();
      QueueChunk(Detail::WriteAnswer(*result) + "\n");
      Out last;
      last.kind = Out::kLast;
      finishAfterWrites_ = true;
      Queue(std::move(last));
      return;
    }
    const auto status = result->GetError()
                            ? static_cast<http::status>(HttpStatusForError(result->GetError()->GetId()))
                            : http::status::ok;
    Respond(status, Detail::WriteAnswer(*result));
  }

  // A refusal before any call: an error answer, then the connection closes
  // unless the request was read whole and the client keeps it alive.
  void Reject(http::status status, const char* errorId, const std::string& detail,
              const char* allow = nullptr) {
    if (closed_) return;
    if (!parser_ || !parser_->is_done()) {
      keepAlive_ = false;
      linger_ = true;
    }
    if (version_ == 0) version_ = 11;
    const auto error = Detail::MakeError(errorId, kBadRequestMessage, "request refused", detail);
    Respond(status, Detail::WriteAnswer(*Core::MethodResult::GetInstance(nullptr, error)), allow);
  }

  void Respond(http::status status, std::string body, const char* allow = nullptr) {
    Out out;
    out.kind = Out::kResponse;
    out.response = std::make_shared<http::response<http::string_body>>(status, version_ ? version_ : 11);
    out.response->set(http::field::content_type, kJsonMediaType);
    out.response->set(http::field::cache_control, "no-store");
    if (allow) out.response->set(http::field::allow, allow);
    out.response->keep_alive(keepAlive_);
    out.response->body() = std::move(body);
    out.response->prepare_payload();
    finishAfterWrites_ = true;
    Queue(std::move(out));
  }

  void SendStreamHeader() {
    if (headerSent_) return;
    headerSent_ = true;
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
        if (keepAlive_ && !shared_->draining.load()) {
          ReadHeader();
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
  beast::flat_buffer buffer_;
  boost::optional<http::request_parser<http::string_body>> parser_;
  std::deque<Out> out_;
  unsigned version_ = 11;
  bool keepAlive_ = true;
  bool streaming_ = false;
  bool inCall_ = false;
  bool headerSent_ = false;
  bool writing_ = false;
  bool finishAfterWrites_ = false;
  bool linger_ = false;
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
        std::make_shared<Session<beast::tcp_stream>>(shared_, beast::tcp_stream(std::move(socket)))->Start();
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

Server::~Server() { Stop(std::chrono::milliseconds(0)); }

bool Server::Start(std::string& error) {
  if (impl_->started) {
    error = "the server was started already";
    return false;
  }
  const ServerOptions& options = impl_->shared->options;
  for (const auto& address : options.listen) {
    beast::error_code ec;
    const auto ip = net::ip::make_address(address.address, ec);
    if (ec) {
      error = "not an IP address: \"" + address.address + "\"";
    } else if (!ip.is_loopback() && !options.allowNonLoopback) {
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
