#include "probe.hpp"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

namespace Trustd {

ProbeOutcome Probe(const std::string& hostname, int port, std::chrono::milliseconds timeout) {
  namespace net = boost::asio;
  using tcp = net::ip::tcp;
  net::io_context ioc;
  tcp::resolver resolver(ioc);
  tcp::socket socket(ioc);
  ProbeOutcome outcome;
  bool done = false;
  resolver.async_resolve(
      hostname, std::to_string(port), tcp::resolver::numeric_service,
      [&](const boost::system::error_code& ec, const tcp::resolver::results_type& results) {
        if (done) return;  // timed out and cancelled
        if (ec) {
          outcome.reason = "cannot resolve " + hostname + ": " + ec.message();
          done = true;
          return;
        }
        net::async_connect(socket, results,
                           [&](const boost::system::error_code& connected, const tcp::endpoint&) {
                             if (done) return;
                             outcome.answers = !connected;
                             if (connected) outcome.reason = connected.message();
                             done = true;
                           });
      });
  ioc.run_for(timeout);
  if (!done) {
    done = true;
    outcome.reason = "no answer within " + std::to_string(timeout.count()) + " ms";
    resolver.cancel();
    boost::system::error_code ignored;
    socket.close(ignored);
    ioc.restart();
    ioc.run();
  }
  boost::system::error_code ignored;
  socket.close(ignored);
  return outcome;
}

}  // namespace Trustd
