#include "HttpGet.h"

#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/StreamCopier.h>

namespace orvex {
namespace test {

Fetched httpGet(Poco::Net::HTTPClientSession& session, const std::string& pathAndQuery,
                const std::map<std::string, std::string>& headers) {
  Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, pathAndQuery,
                                 Poco::Net::HTTPMessage::HTTP_1_1);
  request.setKeepAlive(true);
  for (const auto& [name, value] : headers) request.set(name, value);
  session.sendRequest(request);
  Poco::Net::HTTPResponse response;
  std::istream& in = session.receiveResponse(response);
  Fetched out;
  out.status = response.getStatus();
  for (const auto& [name, value] : response) out.headers[name] = value;
  Poco::StreamCopier::copyToString(in, out.body);
  return out;
}

Fetched httpGet(unsigned short port, const std::string& pathAndQuery,
                const std::map<std::string, std::string>& headers) {
  Poco::Net::HTTPClientSession session("127.0.0.1", port);
  return httpGet(session, pathAndQuery, headers);
}

}  // namespace test
}  // namespace orvex
