#include "browser_side.h"

#include <json/json.h>

#include "util/json_writer.h"
#include <chrono>
#include <fstream>
#include <memory>

namespace standin {

namespace {

const int kDefaultPageWaitMs = 30000;

bool ParseJson(const std::string& text, Json::Value& out)
{
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(text.data(), text.data() + text.size(), &out, &errors) && out.isObject();
}

std::string Reply(int result, const std::string& error = "")
{
    Json::Value reply(Json::objectValue);
    reply["result"] = result;
    if (!error.empty())
        reply["error"] = error;
    return cv::toStyledString(reply);
}

// The operations whose texts the browser needs.
bool ForThePage(const std::string& op)
{
    return op == "notifyWebrtcConsult" || op == "replyConsultParam" || op == "replyWebrtcConsult";
}

}  // namespace

BrowserSide::BrowserSide(const std::string& dataFile, const std::string& keepDir, CallFn call, PrintFn print)
    : keepDir_(keepDir), call_(std::move(call)), print_(std::move(print)),
      server_(kBrowserPage, dataFile, [this](const std::string& body) { return OnSend(body); })
{}

bool BrowserSide::Start(int port, std::string& error)
{
    return server_.Start(port, error);
}

void BrowserSide::Relay(const std::string& op, const std::vector<Value>& args)
{
    if (!ForThePage(op))
        return;
    Json::Value message(Json::objectValue);
    message["type"] = "gateway";
    message["op"] = op;
    Json::Value& list = message["args"] = Json::Value(Json::arrayValue);
    for (const Value& v : args) {
        if (v.kind == 'i')
            list.append(v.i);
        else if (v.kind == 'b')
            list.append(v.b);
        else
            list.append(v.s);
    }
    server_.Push(cv::toStyledString(message));
}

std::string BrowserSide::OnSend(const std::string& body)
{
    Json::Value message;
    if (!ParseJson(body, message) || !message["op"].isString())
        return Reply(-1, "not a message");
    const std::string op = message["op"].asString();
    if (op == "report") {
        const std::string text = message["text"].isString() ? message["text"].asString() : "";
        print_("page " + text);
        {
            std::lock_guard<std::mutex> lock(mu_);
            reports_.push_back(text);
            taken_.push_back(false);
        }
        cv_.notify_all();
        return Reply(0);
    }
    if (op != "call" || !message["name"].isString() || !message["args"].isArray())
        return Reply(-1, "unknown op");
    // A served operation, its request id the gateway's own.
    const std::string name = message["name"].asString();
    const OpSig* sig = kServedOps.Find(name);
    const Json::Value& given = message["args"];
    const std::string params = sig ? sig->params : "";
    if (!sig || params.empty() || params[0] != 'i' || given.size() + 1 != params.size())
        return Reply(-1, "bad call");
    std::vector<Value> args;
    Value reqid;
    {
        std::lock_guard<std::mutex> lock(mu_);
        reqid.i = nextReqid_++;
    }
    args.push_back(reqid);
    for (Json::ArrayIndex k = 0; k < given.size(); ++k) {
        Value v;
        v.kind = params[k + 1];
        if (v.kind == 'i' && given[k].isInt())
            v.i = given[k].asInt();
        else if (v.kind == 'b' && given[k].isBool())
            v.b = given[k].asBool();
        else if (v.kind == 's' && given[k].isString())
            v.s = given[k].asString();
        else
            return Reply(-1, "argument " + std::to_string(k + 1) + " of the wrong kind");
        args.push_back(v);
    }
    if (name == "webrtcConsult")
        Keep(args[1].s);
    int result = -1;
    if (!call_(name, args, result))
        return Reply(-1, "call failed");
    return Reply(result);
}

void BrowserSide::Keep(const std::string& json)
{
    Json::Value message;
    if (keepDir_.empty() || !ParseJson(json, message) || !message["type"].isString() ||
        !message["peerconnectionid"].isString())
        return;
    const std::string type = message["type"].asString();
    const std::string peer = message["peerconnectionid"].asString();
    if ((type != "offer" && type != "answer") || peer.find('/') != std::string::npos)
        return;
    std::ofstream(keepDir_ + "/page-" + peer + "-" + type + ".json", std::ios::binary) << json;
}

bool BrowserSide::Script(const std::string& rest, std::string& err)
{
    const size_t space = rest.find_first_of(" \t");
    const std::string command = rest.substr(0, space);
    const std::string tail = space == std::string::npos ? "" : rest.substr(rest.find_first_not_of(" \t", space));
    std::vector<Value> args;
    if (command == "open") {
        int ms = kDefaultPageWaitMs;
        if (!tail.empty()) {
            const OpSig sig = {"page open", "i", 'v'};
            if (!ParseArgs(tail, sig, args, err))
                return false;
            ms = args[0].i;
        }
        const bool open = server_.WaitOpen(ms);
        print_(std::string("page open ") + (open ? "ok" : "timeout"));
        return open;
    }
    if (command == "send") {
        const OpSig sig = {"page send", "s", 'v'};
        Json::Value check;
        if (!ParseArgs(tail, sig, args, err))
            return false;
        if (!ParseJson(args[0].s, check)) {
            err = "page send: not a JSON object";
            return false;
        }
        server_.Push(args[0].s);
        return true;
    }
    if (command == "wait") {
        const OpSig withTime = {"page wait", "si", 'v'};
        const OpSig plain = {"page wait", "s", 'v'};
        int ms = kDefaultPageWaitMs;
        if (ParseArgs(tail, withTime, args, err))
            ms = args[1].i;
        else if (!ParseArgs(tail, plain, args, err))
            return false;
        err.clear();
        const std::string text = args[0].s;
        // Each wait takes one more report holding the text.
        std::unique_lock<std::mutex> lock(mu_);
        size_t found = 0;
        const bool seen = cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            for (size_t i = 0; i < reports_.size(); ++i) {
                if (!taken_[i] && reports_[i].find(text) != std::string::npos) {
                    found = i;
                    return true;
                }
            }
            return false;
        });
        if (seen)
            taken_[found] = true;
        lock.unlock();
        print_("page wait " + Quote(text) + (seen ? " ok" : " timeout"));
        return seen;
    }
    err = "usage: page open [MS] | page send \"JSON\" | page wait \"TEXT\" [MS]";
    return false;
}

}  // namespace standin
