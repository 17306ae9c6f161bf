// The TLS contexts of the server and the client (TLS 1.2 and 1.3 only) and
// the per-connection settings of a client handshake.
#include <boost/asio/ip/address.hpp>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "security_detail.hpp"

namespace Tovri {
namespace Http {
namespace Detail {

namespace {

namespace ssl = boost::asio::ssl;

// OpenSSL's reason for the last failure, emptying its error queue.
std::string OpenSslReason(const boost::system::error_code& ec) {
  std::string reason = ec ? ec.message() : std::string();
  while (const unsigned long code = ERR_get_error()) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    if (reason.empty()) reason = text;
  }
  return reason.empty() ? std::string("unknown failure") : reason;
}

std::shared_ptr<ssl::context> NewContext(ssl::context::method method, std::string& error) {
  auto context = std::make_shared<ssl::context>(method);
  boost::system::error_code ec;
  context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                           ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::no_compression,
                       ec);
  if (ec || SSL_CTX_set_min_proto_version(context->native_handle(), TLS1_2_VERSION) != 1) {
    error = "cannot set up TLS: " + OpenSslReason(ec);
    return nullptr;
  }
  return context;
}

bool LoadIdentity(ssl::context& context, const std::string& chainFile, const std::string& keyFile,
                  std::string& error) {
  boost::system::error_code ec;
  context.use_certificate_chain_file(chainFile, ec);
  if (ec) {
    error = "cannot load the certificate chain " + chainFile + ": " + OpenSslReason(ec);
    return false;
  }
  context.use_private_key_file(keyFile, ssl::context::pem, ec);
  if (ec) {
    error = "cannot load the private key " + keyFile + ": " + OpenSslReason(ec);
    return false;
  }
  if (SSL_CTX_check_private_key(context.native_handle()) != 1) {
    error = "the private key " + keyFile + " does not match the certificate " + chainFile;
    ERR_clear_error();
    return false;
  }
  return true;
}

bool LoadCa(ssl::context& context, const std::string& caFile, std::string& error) {
  boost::system::error_code ec;
  context.load_verify_file(caFile, ec);
  if (ec) {
    error = "cannot load the CA file " + caFile + ": " + OpenSslReason(ec);
    return false;
  }
  return true;
}

}  // namespace

std::shared_ptr<ssl::context> MakeServerTlsContext(const TlsServerOptions& options, std::string& error) {
  auto context = NewContext(ssl::context::tls_server, error);
  if (!context || !LoadIdentity(*context, options.certificateChainFile, options.privateKeyFile, error))
    return nullptr;
  if (!options.clientCaFile.empty()) {
    if (!LoadCa(*context, options.clientCaFile, error)) return nullptr;
    // The CA names sent to the client, so it can pick its certificate.
    STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(options.clientCaFile.c_str());
    if (names) SSL_CTX_set_client_CA_list(context->native_handle(), names);
    ERR_clear_error();
    boost::system::error_code ec;
    context->set_verify_mode(
        ssl::verify_peer | (options.requireClientCertificate ? ssl::verify_fail_if_no_peer_cert : 0), ec);
    // Session resumption with client verification needs a context id.
    static const unsigned char kSessionContext[] = "tovri-http";
    SSL_CTX_set_session_id_context(context->native_handle(), kSessionContext, sizeof kSessionContext - 1);
  } else if (options.requireClientCertificate) {
    error = "a client certificate is required but no client CA file is given";
    return nullptr;
  }
  return context;
}

std::shared_ptr<ssl::context> MakeClientTlsContext(const TlsClientOptions& options, std::string& error) {
  auto context = NewContext(ssl::context::tls_client, error);
  if (!context) return nullptr;
  if (options.caFile.empty()) {
    error = "no CA file to verify the server with";
    return nullptr;
  }
  if (!LoadCa(*context, options.caFile, error)) return nullptr;
  boost::system::error_code ec;
  context->set_verify_mode(ssl::verify_peer, ec);
  if (!options.certificateChainFile.empty() || !options.privateKeyFile.empty()) {
    if (!LoadIdentity(*context, options.certificateChainFile, options.privateKeyFile, error)) return nullptr;
  }
  return context;
}

bool PrepareClientHandshake(SSL* ssl, const std::string& serverName, std::string& error) {
  boost::system::error_code ec;
  boost::asio::ip::make_address(serverName, ec);
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
  bool ok;
  if (!ec) {
    ok = X509_VERIFY_PARAM_set1_ip_asc(param, serverName.c_str()) == 1;
  } else {
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    ok =
        SSL_set1_host(ssl, serverName.c_str()) == 1 && SSL_set_tlsext_host_name(ssl, serverName.c_str()) == 1;
  }
  if (!ok) {
    error = "cannot verify against the name " + serverName + ": " + OpenSslReason({});
    return false;
  }
  return true;
}

std::string PeerSubject(SSL* ssl) {
  X509* certificate = SSL_get0_peer_certificate(ssl);
  if (!certificate || SSL_get_verify_result(ssl) != X509_V_OK) return std::string();
  BIO* bio = BIO_new(BIO_s_mem());
  if (!bio) return std::string();
  std::string subject;
  if (X509_NAME_print_ex(bio, X509_get_subject_name(certificate), 0, XN_FLAG_RFC2253) >= 0) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    if (data && size > 0) subject.assign(data, static_cast<std::size_t>(size));
  }
  BIO_free(bio);
  return subject;
}

}  // namespace Detail
}  // namespace Http
}  // namespace Tovri
