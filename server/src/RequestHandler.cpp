#include "RequestHandler.h"

#include <Poco/DeflatingStream.h>
#include <Poco/Exception.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerRequestImpl.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/NullStream.h>
#include <Poco/StreamCopier.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/socket.h>

#include <charconv>
#include <cstdio>
#include <sstream>

#include "hqserver/HqServer.h"

namespace orvex {
namespace hqserver {

namespace {

const char kControlPrefix[] = "/_control/";
// Not a record line (no commas, no number) and not JSON: every reader refuses it.
const char kGarbage[] = "\x01\x7f<garbage>\xff\xfe not a record\n";

Answer plain(int status, const std::string& message) {
  Answer a;
  a.status = status;
  a.body = message + "\n";
  return a;
}

// How long a delay fault waits: its own time, or just past what the client said it would wait.
int delayOf(const FaultRule& rule, const Poco::Net::HTTPServerRequest& request) {
  if (rule.delayMs >= 0) return rule.delayMs;
  const std::string text = request.get("Request-Timeout", "");
  int timeout = 1000;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), timeout);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || timeout < 0 ||
      timeout > 600000) {
    timeout = 1000;
  }
  return timeout + 500;
}

// Answers at least this large are compressed for clients that accept gzip.
constexpr size_t kGzipFrom = 1024;
// The largest request body read (and dropped) to keep a connection for the next request.
constexpr int64_t kMaxDroppedBody = 64 * 1024;

bool acceptsGzip(const Poco::Net::HTTPServerRequest& request) {
  std::string accepted = request.get("Accept-Encoding", "");
  return accepted.find("gzip") != std::string::npos;
}

std::string gzip(const std::string& body) {
  std::ostringstream out;
  // Level 1: answers are records on a fast link, where speed matters more than the last bytes.
  Poco::DeflatingOutputStream deflater(out, Poco::DeflatingStreamBuf::STREAM_GZIP, 1);
  deflater.write(body.data(), static_cast<std::streamsize>(body.size()));
  deflater.close();
  return out.str();
}

// The paging headers as a server that capitalises names would send them.
std::string capitalised(const std::string& name) {
  static const std::pair<const char*, const char*> names[] = {
      {"page", "Page"},
      {"islast", "IsLast"},
      {"relationmtm", "RelationMtm"},
      {"namemaxmtm", "NameMaxMtm"},
      {"kv_reqwait_msec", "Kv_ReqWait_Msec"}};
  for (const auto& [lower, caps] : names) {
    if (name == lower) return caps;
  }
  return name;
}

// The status line and headers of `answer`, with `framing` as its length header.
std::string rawHead(const Answer& answer, const std::string& framing) {
  std::string head = "HTTP/1.1 " + std::to_string(answer.status) + " " +
                     Poco::Net::HTTPResponse::getReasonForStatus(
                         static_cast<Poco::Net::HTTPResponse::HTTPStatus>(answer.status)) +
                     "\r\nContent-Type: " + answer.contentType + "\r\n";
  for (const auto& [name, value] : answer.headers) head += name + ": " + value + "\r\n";
  return head + framing + "\r\nConnection: close\r\n\r\n";
}

std::string hex(size_t n) {
  char text[32];
  std::snprintf(text, sizeof text, "%zx", n);
  return text;
}

}  // namespace

Poco::Net::HTTPRequestHandler* RequestHandlerFactory::createRequestHandler(
    const Poco::Net::HTTPServerRequest&) {
  return new RequestHandler(server_);
}

void RequestHandler::handleRequest(Poco::Net::HTTPServerRequest& request,
                                   Poco::Net::HTTPServerResponse& response) {
  // Nothing may escape into Poco's connection loop: a client must always get an answer.
  try {
    serve(request, response);
  } catch (const Poco::Exception& e) {
    if (!response.sent()) send(plain(500, "internal error: " + e.displayText()), request, response);
  } catch (const std::exception& e) {
    if (!response.sent())
      send(plain(500, std::string("internal error: ") + e.what()), request, response);
  }
}

void RequestHandler::serve(Poco::Net::HTTPServerRequest& request,
                           Poco::Net::HTTPServerResponse& response) {
  // No endpoint reads a body, but an unread one would be taken for the next request on a
  // kept-alive connection. One of unknown or large size is not waited for (it may never come):
  // the connection ends after the answer instead. Without a length and unchunked there is none.
  if (request.getChunkedTransferEncoding() || request.getContentLength64() > kMaxDroppedBody) {
    bodyUnread_ = true;
  } else if (request.hasContentLength()) {
    Poco::NullOutputStream discard;
    Poco::StreamCopier::copyStream(request.stream(), discard);
  }
  Poco::URI uri;
  Poco::URI::QueryParameters params;
  try {
    uri = Poco::URI(request.getURI());
    params = uri.getQueryParameters();
  } catch (const Poco::Exception& e) {
    server_.countRequest("");
    return send(plain(400, "malformed request URI: " + e.message()), request, response);
  }
  const std::string path = uri.getPath();
  server_.countRequest(path);

  if (path.rfind(kControlPrefix, 0) == 0 && server_.options_.control) {
    return send(control(path, params), request, response);
  }
  if (!QueryService::knows(path))
    return send(plain(404, "no such endpoint: " + path), request, response);
  if (request.getMethod() != Poco::Net::HTTPRequest::HTTP_GET) {
    Answer a = plain(405, "only GET is served");
    a.headers.emplace_back("Allow", "GET");
    return send(a, request, response);
  }
  if (auto rule = server_.faults_.next(path)) {
    if (inject(*rule, path, params, request, response)) return;
  }
  AuthResult auth = server_.auth_.check(request.getMethod(), uri, request, "");
  if (!auth.ok()) return send(plain(auth.status, auth.message), request, response);
  send(server_.query_.handle(path, params), request, response);
}

bool RequestHandler::inject(const FaultRule& rule, const std::string& path,
                            const Poco::URI::QueryParameters& params,
                            Poco::Net::HTTPServerRequest& request,
                            Poco::Net::HTTPServerResponse& response) {
  fault_ = FaultRule::kindName(rule.kind);
  switch (rule.kind) {
    case FaultRule::Kind::Status:
      send(plain(rule.code, "injected fault: status " + std::to_string(rule.code)), request,
           response);
      return true;
    case FaultRule::Kind::Garbage: {
      Answer a;
      a.contentType = "application/octet-stream";
      a.body.assign(kGarbage, sizeof kGarbage - 1);
      send(a, request, response);
      return true;
    }
    case FaultRule::Kind::Close:
      drop(request, response);
      return true;
    case FaultRule::Kind::Answer: {
      Answer a;
      a.status = rule.code;
      a.body = rule.body;
      a.headers = rule.headers;
      send(a, request, response);
      return true;
    }
    case FaultRule::Kind::Delay:
      if (!server_.pause(delayOf(rule, request))) {
        drop(request, response);
        return true;
      }
      return false;  // late, but answered normally
    case FaultRule::Kind::CapsHeaders:
      capsHeaders_ = true;
      return false;
    case FaultRule::Kind::ChunkedCut:
    case FaultRule::Kind::BadChunk:
    case FaultRule::Kind::Drip:
    case FaultRule::Kind::Endless:
      sendHostile(rule, server_.query_.handle(path, params), request, response);
      return true;
  }
  return false;
}

void RequestHandler::sendHostile(const FaultRule& rule, const Answer& answer,
                                 Poco::Net::HTTPServerRequest& request,
                                 Poco::Net::HTTPServerResponse& response) {
  Poco::Net::StreamSocket& socket =
      static_cast<Poco::Net::HTTPServerRequestImpl&>(request).socket();
  const std::string& body = answer.body;
  auto sendText = [&socket](const std::string& text) {
    socket.sendBytes(text.data(), static_cast<int>(text.size()), MSG_NOSIGNAL);
  };
  try {
    switch (rule.kind) {
      case FaultRule::Kind::ChunkedCut: {
        // An empty first chunk would be the final one: then the cut comes before any chunk.
        const size_t half = body.size() / 2;
        std::string text = rawHead(answer, "Transfer-Encoding: chunked");
        if (half > 0) text += hex(half) + "\r\n" + body.substr(0, half) + "\r\n";
        sendText(text);
        break;
      }
      case FaultRule::Kind::BadChunk:
        sendText(rawHead(answer, "Transfer-Encoding: chunked") + "zz\r\n" + body + "\r\n0\r\n\r\n");
        break;
      case FaultRule::Kind::Drip: {
        const std::string text =
            rawHead(answer, "Content-Length: " + std::to_string(body.size())) + body;
        const int gapMs = rule.delayMs >= 0 ? rule.delayMs : 1000;
        for (size_t i = 0; i < text.size() && (i == 0 || server_.pause(gapMs)); ++i) {
          sendText(text.substr(i, 1));
        }
        break;
      }
      default: {  // Endless: until the client goes away or the service stops
        sendText(rawHead(answer, "Content-Length: 1000000000000"));
        const std::string block(64 * 1024, 'x');
        while (server_.pause(0)) sendText(block);
      }
    }
  } catch (const Poco::Exception&) {
    // The client gave up; the connection ends either way.
  }
  drop(request, response);
}

Answer RequestHandler::control(const std::string& path, const Poco::URI::QueryParameters& params) {
  const std::string what = path.substr(sizeof kControlPrefix - 1);
  if (what == "fault") {
    std::string error;
    auto rule = FaultRule::parse(params, error);
    if (!rule) return plain(400, error);
    server_.faults_.add(*rule);
    return plain(200, rule->toString());
  }
  if (what == "clear") {
    server_.faults_.clear();
    return plain(200, "cleared");
  }
  if (what == "wait") {
    for (const auto& [name, value] : params) {
      int msec = 0;
      auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), msec);
      if (name == "msec" && !value.empty() && ec == std::errc() &&
          ptr == value.data() + value.size()) {
        server_.setWaitMsec(msec);
        return plain(200, "wait " + std::to_string(msec));
      }
    }
    return plain(400, "wait needs msec=<integer>");
  }
  if (what == "stats") {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("total");
    w.Uint64(server_.totalRequests());
    w.Key("faultsFired");
    w.Uint64(server_.faults_.fired());
    w.Key("requests");
    w.StartObject();
    {
      std::lock_guard<std::mutex> lock(server_.countMutex_);
      for (const auto& [p, n] : server_.counts_) {
        w.Key(p.c_str(), static_cast<rapidjson::SizeType>(p.size()));
        w.Uint64(n);
      }
    }
    w.EndObject();
    w.EndObject();
    Answer a;
    a.contentType = "application/json";
    a.body.assign(buffer.GetString(), buffer.GetSize());
    return a;
  }
  return plain(404, "no such control: " + path);
}

void RequestHandler::send(const Answer& answer, Poco::Net::HTTPServerRequest& request,
                          Poco::Net::HTTPServerResponse& response) {
  response.setStatusAndReason(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(answer.status));
  response.setContentType(answer.contentType);
  response.setKeepAlive(request.getKeepAlive() && !bodyUnread_);
  // The answer's own headers go last: an injected answer may override the pacing header.
  const int wait = server_.waitMsec();
  if (wait >= 0) {
    response.set(capsHeaders_ ? capitalised("kv_reqwait_msec") : "kv_reqwait_msec",
                 std::to_string(wait));
  }
  for (const auto& [name, value] : answer.headers) {
    response.set(capsHeaders_ ? capitalised(name) : name, value);
  }
  // Logged before sending, so the line is there by the time the client has the answer.
  if (server_.log_) {
    server_.log_->write(request.getMethod(), request.getURI(), request, answer.status,
                        answer.body.size(), fault_);
  }
  if (answer.body.size() >= kGzipFrom && acceptsGzip(request)) {
    const std::string packed = gzip(answer.body);
    response.set("Content-Encoding", "gzip");
    response.sendBuffer(packed.data(), packed.size());
  } else {
    response.sendBuffer(answer.body.data(), answer.body.size());
  }
}

void RequestHandler::drop(Poco::Net::HTTPServerRequest& request,
                          Poco::Net::HTTPServerResponse& response) {
  response.setKeepAlive(false);
  if (server_.log_)
    server_.log_->write(request.getMethod(), request.getURI(), request, 0, 0, fault_);
  try {
    static_cast<Poco::Net::HTTPServerRequestImpl&>(request).socket().shutdown();
  } catch (const Poco::Exception&) {
    // The peer may be gone already; the connection ends either way.
  }
}

}  // namespace hqserver
}  // namespace orvex
