#include "LookupCommands.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "DisplayText.h"
#include "TimeText.h"

namespace orvex {
namespace cli {

void LookupCommands::name(CommandContext& context) {
  const std::string name = fieldText(context.api.getServerName());
  std::ostream& out = context.io.out;
  if (context.options.format == OutputFormat::Json) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("name");
    w.String(name.c_str(), static_cast<rapidjson::SizeType>(name.size()));
    w.EndObject();
    out << buffer.GetString() << '\n';
  } else {
    out << name << '\n';
  }
  out.flush();
  if (!out.good()) context.outcome.error(writeFailureText(context.io.outBuffer));
}

void LookupCommands::last(CommandContext& context) {
  const CliOptions& o = context.options;
  const std::vector<std::string> targets(o.args.begin() + 1, o.args.end());
  std::vector<CloudTopic> topics;
  const ResultStatus status = context.api.getLastData(o.args[0], targets, topics);
  // Batches that succeeded are printed even when another failed.
  context.sink->write(topics);
  if (!status.ok()) {
    context.outcome.failed("last", status);
    return;
  }
  if (context.sink->records() == 0) {
    context.outcome.warn("no record of key '" + o.args[0] + "' for any target");
    return;
  }
  for (const std::string& target : targets) {
    if (context.sink->recordsOf(target) == 0) {
      context.outcome.warn("no record of " + target + " for key '" + o.args[0] + "'");
    }
  }
}

void LookupCommands::cache(CommandContext& context) {
  const CliOptions& o = context.options;
  CloudTopic topic;
  const ResultStatus status = context.api.getDataCache(TopicKey{o.args[1], o.args[0]}, topic);
  if (!status.ok()) {
    context.outcome.failed("cache", status);
  } else {
    context.sink->write({topic});
    if (topic.bodies.empty()) {
      context.outcome.warn("no cached record of " + o.args[1] + " for key '" + o.args[0] + "'");
    }
  }
}

void LookupCommands::range(CommandContext& context) {
  const CliOptions& o = context.options;
  CloudTopic topic;
  const ResultStatus status = context.api.getData(TopicKey{o.args[1], o.args[0]}, o.beginTime,
                                                  o.endTime, o.maxCount, topic);
  // What arrived before a failure is printed too.
  context.sink->write({topic});
  const size_t got = topic.bodies.size();
  if (!status.ok()) {
    context.outcome.failed("range", status);
  } else if (got == 0) {
    context.outcome.warn("no record of " + o.args[1] + " for key '" + o.args[0] + "' in the range");
  } else if (static_cast<int64_t>(got) >= kRangeLimit && o.maxCount > kRangeLimit &&
             topic.bodies.front().time > o.beginTime) {
    context.outcome.incomplete(
        "range stops at " + std::to_string(kRangeLimit) + " records; older ones may exist before " +
        formatIso(topic.bodies.front().time) + " (use fetch or download for more)");
  }
}

}  // namespace cli
}  // namespace orvex
