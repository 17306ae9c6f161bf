#include <tovri/http/client.hpp>

#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/optional.hpp>

#include <tovri/http/wire.hpp>

#include "envelope.hpp"
#include "security_detail.hpp"

namespace Tovri {
namespace Http {

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;
using ResultPtr = std::shared_ptr<const Core::MethodResult>;

ResultPtr TransportError(const char* id, const char* messageId, const std::string& text,
                         const std::string& detail) {
  return Core::MethodResult::GetInstance(nullptr, Detail::MakeError(id, messageId, text, detail));
}

// Service ids and operation names travel in the path unescaped.
bool PathSafe(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

using TlsStream = net::ssl::stream<beast::tcp_stream>;

// A plain or a TLS connection; `handshaken` once TLS is up.
struct Connection {
  Connection(net::io_context& ioc, net::ssl::context* tls) {
    if (tls) {
      secure.emplace(net::make_strand(ioc), *tls);
    } else {
      plain.emplace(net::make_strand(ioc));
    }
  }
  beast::tcp_stream& lowest() { return secure ? secure->next_layer() : *plain; }
  // Runs `op` on whichever stream this is.
  template <class Op>
  void With(Op&& op) {
    if (secure) {
      op(*secure);
    } else {
      op(*plain);
    }
  }
  boost::optional<beast::tcp_stream> plain;
  boost::optional<TlsStream> secure;
  beast::flat_buffer buffer;
};

class Call;

// Whether an idle kept-alive connection may still carry a call: nothing to
// read on it, no end and no error. A server closing an idle connection
// sends its end before any request could follow, so this finds most of
// them before a request is written into a connection that is gone.
bool StillOpen(Connection& connection) {
  char byte;
  const ssize_t got = ::recv(connection.lowest().socket().native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
  beast::error_code ec;
  connection.lowest().socket().close(ec);
  return false;
}

// What the client and its calls share.
struct State {
  explicit State(ClientOptions o) : ioc(std::make_shared<net::io_context>()), options(std::move(o)) {}
  std::shared_ptr<net::io_context> ioc;
  const ClientOptions options;
  std::shared_ptr<net::ssl::context> tls;  // null for plain HTTP
  std::string tlsError;                    // why TLS could not be set up
  std::mutex mutex;
  bool closing = false;
  std::vector<std::unique_ptr<Connection>> idle;
  std::map<Call*, std::weak_ptr<Call>> active;
};

// One call: takes a connection, sends, reads the answer, gives the
// connection back. Runs on its connection's strand.
class Call : public std::enable_shared_from_this<Call> {
 public:
  Call(std::shared_ptr<State> state, std::string target, std::string body, Core::AsyncApiResultCb resultCb,
       Clock::time_point deadline, std::chrono::milliseconds timeout)
      : state_(std::move(state)),
        target_(std::move(target)),
        body_(std::move(body)),
        resultCb_(std::move(resultCb)),
        deadline_(deadline),
        timeout_(timeout) {}

  // False when the client is closing (nothing started).
  bool Start() {
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      if (state_->closing) return false;
      while (!state_->idle.empty() && !connection_) {
        std::unique_ptr<Connection> idle = std::move(state_->idle.back());
        state_->idle.pop_back();
        if (StillOpen(*idle)) {
          connection_ = std::move(idle);
          reused_ = true;
        }
      }
      if (!connection_) connection_ = std::make_unique<Connection>(*state_->ioc, state_->tls.get());
      // Set before the call is visible to Abort.
      executor_ = connection_->lowest().get_executor();
      state_->active[this] = shared_from_this();
    }
    Launch();
    return true;
  }

  // From another thread: ends the call with service_unavailable.
  void Abort() {
    aborted_ = true;
    net::any_io_executor executor = Executor();
    net::post(executor, [self = shared_from_this(), executor] {
      // A retry moved the call to another connection's strand: follow it.
      if (self->Executor() != executor) return self->Abort();
      if (self->resolver_) self->resolver_->cancel();
      if (self->resolveTimer_) self->resolveTimer_->cancel();
      if (self->connection_) self->connection_->lowest().cancel();
    });
  }

 private:
  beast::tcp_stream& stream() { return connection_->lowest(); }

  net::any_io_executor Executor() {
    std::lock_guard<std::mutex> lock(executorMutex_);
    return executor_;
  }

  void Launch() {
    {
      std::lock_guard<std::mutex> lock(executorMutex_);
      executor_ = connection_->lowest().get_executor();
    }
    net::dispatch(Executor(), [self = shared_from_this()] { self->Begin(); });
  }

  void Begin() {
    if (aborted_) return Closed();
    stream().expires_at(deadline_);
    if (reused_) return Write();
    resolver_.emplace(Executor());
    // Resolution has no timer of its own: the call's deadline cancels it.
    resolveTimer_.emplace(Executor());
    resolveTimer_->expires_at(deadline_);
    resolveTimer_->async_wait([self = shared_from_this()](beast::error_code ec) {
      if (ec) return;
      self->resolveTimedOut_ = true;
      if (self->resolver_) self->resolver_->cancel();
    });
    resolver_->async_resolve(
        state_->options.host, std::to_string(state_->options.port),
        [self = shared_from_this()](beast::error_code ec, tcp::resolver::results_type results) {
          self->resolveTimer_->cancel();
          if (self->resolveTimedOut_ && !self->aborted_)
            return self->Failed(beast::error::timeout, kConnecting);
          if (ec) return self->Failed(ec, kConnecting);
          self->stream().async_connect(results, [self](beast::error_code e, const tcp::endpoint&) {
            if (e) return self->Failed(e, kConnecting);
            // A request is small and waits for its answer: send it at once.
            beast::error_code ignored;
            self->stream().socket().set_option(tcp::no_delay(true), ignored);
            if (self->connection_->secure) return self->Handshake();
            self->Write();
          });
        });
  }

  void Handshake() {
    const auto& tls = *state_->options.tls;
    const std::string& name = tls.serverName.empty() ? state_->options.host : tls.serverName;
    TlsStream& secure = *connection_->secure;
    std::string error;
    if (!Detail::PrepareClientHandshake(secure.native_handle(), name, error)) return TlsFailed(error);
    secure.async_handshake(net::ssl::stream_base::client, [self = shared_from_this()](beast::error_code ec) {
      if (!ec) return self->Write();
      if (self->aborted_) return self->Closed();
      if (ec == beast::error::timeout) return self->Failed(ec, kConnecting);
      std::string reason = ec.message();
      const long verify = SSL_get_verify_result(self->connection_->secure->native_handle());
      if (verify != X509_V_OK) reason += " (" + std::string(X509_verify_cert_error_string(verify)) + ")";
      self->TlsFailed(reason);
    });
  }

  void TlsFailed(const std::string& reason) {
    const std::string where = state_->options.host + ":" + std::to_string(state_->options.port);
    Finish(TransportError(kServiceUnavailableId, kTlsFailedMessage, "TLS handshake failed",
                          where + ": " + reason));
  }

  // Write and Read check for an abort too: its cancel may have run on the
  // strand between two operations, with nothing pending to cancel.
  void Write() {
    if (aborted_) return Closed();
    request_.emplace(http::verb::post, target_, 11);
    // An IPv6 literal is bracketed in the Host header.
    const std::string& host = state_->options.host;
    const bool v6 = host.find(':') != std::string::npos;
    request_->set(http::field::host,
                  (v6 ? "[" + host + "]" : host) + ":" + std::to_string(state_->options.port));
    request_->set(http::field::content_type, kLosslessMediaType);
    request_->set(http::field::accept, std::string(kNdjsonMediaType) + ", " + kLosslessMediaType);
    const SecretString& token = state_->options.bearerToken;
    if (!token.empty()) request_->set(http::field::authorization, "Bearer " + token.Reveal());
    request_->keep_alive(true);
    request_->body() = body_;
    request_->prepare_payload();
    connection_->With([this](auto& stream) {
      http::async_write(stream, *request_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
        if (ec) return self->Failed(ec, kSending);
        self->Read();
      });
    });
  }

  void Read() {
    if (aborted_) return Closed();
    parser_.emplace();
    parser_->body_limit(state_->options.maxAnswerBytes);
    onChunk_ = [this](std::uint64_t, beast::string_view chunk, beast::error_code& ec) -> std::size_t {
      received_ = true;
      // What is held from earlier pieces has no line end (complete lines
      // were taken), so only the new piece is searched: a long answer line
      // arrives in many pieces, and scanning it anew each time is quadratic.
      const std::size_t scanned = lines_.size();
      lines_.append(chunk.data(), chunk.size());
      if (lines_.size() > state_->options.maxAnswerBytes) {
        malformed_ = "answer larger than " + std::to_string(state_->options.maxAnswerBytes) + " bytes";
      }
      std::size_t start = 0;
      for (std::size_t end, from = scanned;
           malformed_.empty() && (end = lines_.find('\n', from)) != std::string::npos;
           start = from = end + 1) {
        OnLine(beast::string_view(lines_).substr(start, end - start));
      }
      lines_.erase(0, start);
      if (!malformed_.empty()) ec = http::error::bad_chunk;
      return chunk.size();
    };
    parser_->on_chunk_body(onChunk_);
    connection_->With([this](auto& stream) {
      http::async_read(stream, connection_->buffer, *parser_,
                       [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
    });
  }

  void OnLine(beast::string_view line) {
    if (final_) {
      malformed_ = "text after the final answer";
      return;
    }
    ResultPtr result;
    Progress progress;
    std::string error;
    if (!Detail::ReadAnswer(std::string_view(line.data(), line.size()), state_->options.limits, result,
                            progress, error)) {
      malformed_ = error;
      return;
    }
    if (result) {
      final_ = result;
    } else {
      Deliver(nullptr, progress);
    }
  }

  void OnRead(beast::error_code ec) {
    if (!malformed_.empty()) return Malformed(malformed_);
    if (ec) return Failed(ec, kReading);
    const auto& response = parser_->get();
    if (response.chunked()) {
      if (!lines_.empty() || !final_) return Malformed("the stream ended without a final answer");
    } else {
      ResultPtr result;
      Progress progress;
      std::string error;
      if (!Detail::ReadAnswer(response.body(), state_->options.limits, result, progress, error) || !result) {
        return Malformed("status " + std::to_string(response.result_int()) + ": " +
                         (result ? std::string("a progress report instead of an answer") : error));
      }
      final_ = result;
    }
    GiveBack(response.keep_alive() && !parser_->need_eof());
    Finish(final_);
  }

  enum Stage { kConnecting, kSending, kReading };

  void Failed(beast::error_code ec, Stage stage) {
    if (aborted_) return Closed();
    if (ec == beast::error::timeout) {
      return Finish(TransportError(kTimedOutId, kTimedOutMessage, "no answer in time",
                                   std::to_string(timeout_.count()) + " ms"));
    }
    const bool stale = ec == http::error::end_of_stream || ec == net::error::eof ||
                       ec == net::error::connection_reset || ec == net::error::broken_pipe ||
                       ec == net::error::connection_aborted || ec == net::ssl::error::stream_truncated;
    // Resent only when the request was not written whole, so the server
    // cannot have run it. Once written, a lost connection may have
    // carried the request to the server (a cut after it, a server killed
    // mid-call): resending could run a create twice, so the caller hears
    // that the connection was lost. Idle connections the server closed
    // are mostly weeded out before sending (StillOpen).
    if (reused_ && !received_ && !retried_ && stale && stage == kSending) {
      retried_ = true;
      reused_ = false;
      Discard();
      connection_ = std::make_unique<Connection>(*state_->ioc, state_->tls.get());
      return Launch();
    }
    if (ec.category() == beast::error_code(http::error::bad_version).category() &&
        ec != http::error::end_of_stream) {
      return Malformed(ec.message());
    }
    // A TLS alert after the handshake: a refused client certificate.
    if (ec.category() == net::error::get_ssl_category()) return TlsFailed(ec.message());
    const std::string where = state_->options.host + ":" + std::to_string(state_->options.port);
    if (stage == kConnecting) {
      return Finish(TransportError(kServiceUnavailableId, kConnectFailedMessage, "cannot connect",
                                   where + ": " + ec.message()));
    }
    Finish(TransportError(kServiceUnavailableId, kConnectionLostMessage, "connection lost",
                          where + ": " + ec.message()));
  }

  void Malformed(const std::string& reason) {
    Finish(TransportError(kInternalServerErrorId, kMalformedAnswerMessage, "malformed answer", reason));
  }

  void Closed() {
    Finish(TransportError(kServiceUnavailableId, kClientClosedMessage, "client closed",
                          "the call was abandoned"));
  }

  // Back to the pool, or closed.
  void GiveBack(bool reusable) {
    if (!reusable || !connection_) return Discard();
    connection_->lowest().expires_never();
    std::unique_ptr<Connection> keep = std::move(connection_);
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->closing && state_->idle.size() < state_->options.maxIdleConnections) {
      state_->idle.push_back(std::move(keep));
    }
  }

  void Discard() {
    if (!connection_) return;
    beast::error_code ec;
    connection_->lowest().socket().shutdown(tcp::socket::shutdown_both, ec);
    connection_->lowest().close();
    // Kept until the call ends: its pending handlers may still refer to it.
    spent_.push_back(std::move(connection_));
  }

  void Finish(const ResultPtr& result) {
    if (done_) return;
    done_ = true;
    if (connection_) Discard();
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      state_->active.erase(this);
    }
    Deliver(result, FinalProgress());
  }

  void Deliver(const ResultPtr& result, const Progress& progress) {
    if (!resultCb_) return;
    try {
      resultCb_(result, progress);
    } catch (...) {
      // An answer callback that throws must not take the I/O thread down.
    }
  }

  std::shared_ptr<State> state_;
  std::string target_;
  std::string body_;
  Core::AsyncApiResultCb resultCb_;
  Clock::time_point deadline_;
  std::chrono::milliseconds timeout_;
  std::mutex executorMutex_;
  net::any_io_executor executor_;  // the strand of the current connection
  std::unique_ptr<Connection> connection_;
  std::vector<std::unique_ptr<Connection>> spent_;
  boost::optional<tcp::resolver> resolver_;
  boost::optional<net::steady_timer> resolveTimer_;
  bool resolveTimedOut_ = false;
  boost::optional<http::request<http::string_body>> request_;
  boost::optional<http::response_parser<http::string_body>> parser_;
  std::function<std::size_t(std::uint64_t, beast::string_view, beast::error_code&)> onChunk_;
  std::string lines_;
  std::string malformed_;
  ResultPtr final_;
  bool reused_ = false;
  bool retried_ = false;
  bool received_ = false;
  std::atomic<bool> aborted_{false};
  bool done_ = false;
};

}  // namespace

struct Client::Impl {
  std::shared_ptr<State> state;
  boost::optional<net::executor_work_guard<net::io_context::executor_type>> work;
  std::vector<std::thread> threads;
  std::atomic<int> running{0};
};

Client::Client(ClientOptions options) : impl_(std::make_shared<Impl>()) {
  impl_->state = std::make_shared<State>(std::move(options));
  State& state = *impl_->state;
  if (state.options.tls) {
    state.tls = Detail::MakeClientTlsContext(*state.options.tls, state.tlsError);
    if (!state.tls && state.tlsError.empty()) state.tlsError = "cannot set up TLS";
  }
  impl_->work.emplace(impl_->state->ioc->get_executor());
  const int threads = std::max(1, impl_->state->options.ioThreads);
  for (int i = 0; i < threads; ++i) {
    impl_->running.fetch_add(1);
    impl_->threads.emplace_back([impl = impl_.get(), ioc = impl_->state->ioc] {
      ioc->run();
      impl->running.fetch_sub(1);
    });
  }
}

Client::~Client() {
  State& state = *impl_->state;
  std::vector<std::unique_ptr<Connection>> idle;
  std::vector<std::shared_ptr<Call>> active;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.closing = true;
    idle.swap(state.idle);
    for (auto& entry : state.active) {
      if (auto call = entry.second.lock()) active.push_back(std::move(call));
    }
  }
  // Idle connections have no operation pending: closed here.
  idle.clear();
  for (auto& call : active) call->Abort();
  active.clear();
  impl_->work.reset();
  const auto windDown = Clock::now() + std::chrono::seconds(5);
  while (impl_->running.load() > 0 && Clock::now() < windDown) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  state.ioc->stop();
  for (auto& thread : impl_->threads) thread.join();
  state.ioc->restart();
  for (int i = 0; i < 100 && state.ioc->poll() > 0; ++i) {
  }
}

void Client::Invoke(const std::shared_ptr<const Core::MethodIdentifier>& method, const Data::ValuePtr& input,
                    const std::shared_ptr<Core::AsyncActivation>& activation,
                    const Core::AsyncApiResultCb& resultCb) {
  const auto answerNow = [&resultCb](const ResultPtr& result) {
    if (resultCb) resultCb(result, FinalProgress());
  };
  const std::string& service = method->GetInterface()->GetName();
  const std::string& operation = method->GetName();
  if (!PathSafe(service) || !PathSafe(operation)) {
    return answerNow(
        TransportError(kNotFoundId, kBadRequestMessage, "no such operation", service + "/" + operation));
  }
  if (!impl_->state->tlsError.empty()) {
    return answerNow(
        TransportError(kServiceUnavailableId, kTlsFailedMessage, "TLS setup failed", impl_->state->tlsError));
  }
  std::chrono::milliseconds timeout = impl_->state->options.callTimeout;
  Detail::Properties properties;
  if (activation) {
    properties = activation->properties;
    const auto own = properties.find(kTimeoutProperty);
    if (own != properties.end()) {
      char* end = nullptr;
      const long long ms = std::strtoll(own->second.c_str(), &end, 10);
      if (end && *end == '\0' && ms > 0) timeout = std::chrono::milliseconds(ms);
      properties.erase(own);
    }
  }
  std::string body = input ? Detail::WriteRequest(*input, properties) : std::string("{\"input\":null}");
  auto call = std::make_shared<Call>(impl_->state, std::string(kCallPrefix) + service + "/" + operation,
                                     std::move(body), resultCb, Clock::now() + timeout, timeout);
  if (!call->Start()) {
    answerNow(TransportError(kServiceUnavailableId, kClientClosedMessage, "client closed",
                             "the client is closing"));
  }
}

}  // namespace Http
}  // namespace Tovri
