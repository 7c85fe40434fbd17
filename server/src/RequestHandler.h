// One HTTP request of the service: routing, fault injection, access checks, the answer, pacing
// header and the request log line. Made per request by RequestHandlerFactory; internal to the
// library.
#pragma once

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/URI.h>

#include <string>

#include "hqserver/FaultInjector.h"
#include "hqserver/QueryService.h"

namespace orvex {
namespace hqserver {

class HqServer;

class RequestHandler : public Poco::Net::HTTPRequestHandler {
 public:
  explicit RequestHandler(HqServer& server) : server_(server) {}
  void handleRequest(Poco::Net::HTTPServerRequest& request,
                     Poco::Net::HTTPServerResponse& response) override;

 private:
  void serve(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);
  // Applies a fault; true when the request is finished with it (answered or dropped).
  bool inject(const FaultRule& rule, const std::string& path,
              const Poco::URI::QueryParameters& params, Poco::Net::HTTPServerRequest& request,
              Poco::Net::HTTPServerResponse& response);
  // Writes `answer` with a hostile framing straight to the socket, then drops the connection.
  void sendHostile(const FaultRule& rule, const Answer& answer,
                   Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);
  Answer control(const std::string& path, const Poco::URI::QueryParameters& params);
  void send(const Answer& answer, Poco::Net::HTTPServerRequest& request,
            Poco::Net::HTTPServerResponse& response);
  void drop(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);

  HqServer& server_;
  std::string fault_;        // name of the fault injected into this request, for the log
  bool bodyUnread_ = false;  // the connection cannot carry another request
  bool capsHeaders_ = false;
};

class RequestHandlerFactory : public Poco::Net::HTTPRequestHandlerFactory {
 public:
  explicit RequestHandlerFactory(HqServer& server) : server_(server) {}
  Poco::Net::HTTPRequestHandler* createRequestHandler(
      const Poco::Net::HTTPServerRequest& request) override;

 private:
  HqServer& server_;
};

}  // namespace hqserver
}  // namespace orvex
