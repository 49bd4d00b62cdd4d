#include "platform/WebReplies.h"

#include "platform/AsciiText.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <sstream>

namespace {

using nlohmann::json;

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The JSON value at the start of the text; what follows it is ignored (the registration
// reply carries an error description after its JSON).
std::optional<json> LeadingJson(const std::string &text)
{
    std::istringstream in(text);
    json value;
    try {
        in >> value;
    } catch (const json::exception &) {
        return std::nullopt;
    }
    return value;
}

// A member read as text: strings as they are, true/false, numbers and structures as JSON.
std::string MemberText(const json &object, const char *name)
{
    const auto it = object.find(name);
    if (it == object.end() || it->is_null())
        return {};
    if (it->is_string())
        return it->get<std::string>();
    return it->dump();
}

bool MemberBool(const json &object, const char *name)
{
    const auto it = object.find(name);
    if (it == object.end())
        return false;
    if (it->is_boolean())
        return it->get<bool>();
    return it->is_string() && it->get<std::string>() == "true";
}

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

}  // namespace

std::optional<std::string> DecodeReply(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c != '%') {
            out += c;
        } else if (i + 1 < text.size() && text[i + 1] == '%') {
            out += '%';
            ++i;
        } else {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            out += char(high * 16 + low);
            i += 2;
        }
    }
    return out;
}

std::string ErrorCodeText(std::string_view reply)
{
    std::string_view value;
    bool found = false;
    while (!reply.empty() && !found) {
        const size_t end = reply.find('\n');
        std::string_view line = reply.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const size_t eq = line.find('=');
        if (eq != std::string_view::npos && EqualsIgnoreCase(line.substr(0, eq), "ErrorCode")) {
            value = TrimBlanks(line.substr(eq + 1));
            found = true;
        }
        reply.remove_prefix(end == std::string_view::npos ? reply.size() : end + 1);
    }
    int code = -1;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), code);
    if (!found || value.empty() || ec != std::errc() || end != value.data() + value.size())
        return "No such ErrorCode ";
    switch (code) {
    case 0: return "成功";
    case 1: return "没有此接口";
    case 2: return "频道已用完";
    case 3: return "参数不正确";
    case 4: return "启动失败";
    case 5: return "停止失败";
    case 6: return "会话ID错误";
    case 104: return "RTSP流连接错误";
    case 109: return "未检测到该设备";
    default: return "No such ErrorCode ";
    }
}

bool IsTrue(std::string_view text)
{
    return text == "true";
}

TAddVideoReply ReadAddVideoReply(const std::string &replyWithErrorText)
{
    TAddVideoReply result;
    if (replyWithErrorText.empty()) {
        result.message = "访问报错";
        return result;
    }
    const std::optional<std::string> decoded = DecodeReply(replyWithErrorText);
    if (!decoded) {
        // A reply that cannot be decoded is a refusal: the text shows what came back.
        result.message = replyWithErrorText;
        return result;
    }
    const std::optional<json> value = LeadingJson(*decoded);
    if (!value || !value->is_object()) {
        result.message = *decoded;
        return result;
    }
    result.errorCode = MemberText(*value, "errorCode");
    result.message = MemberText(*value, "message");
    result.success = MemberText(*value, "success");
    const auto list = value->find("list");
    if (list != value->end()) {
        std::optional<json> listObject;
        if (list->is_object())
            listObject = *list;
        else if (list->is_string())
            listObject = LeadingJson(list->get<std::string>());
        if (listObject && listObject->is_object())
            result.id = MemberText(*listObject, "id");
    }
    return result;
}

TCategoryAndGradeReply ReadCategoryAndGradeReply(const std::string &body)
{
    TCategoryAndGradeReply result;
    const std::optional<std::string> decoded = DecodeReply(body);
    const std::optional<json> value = decoded ? LeadingJson(*decoded) : std::nullopt;
    if (!value || !value->is_object())
        return result;
    result.errorCode = MemberText(*value, "errorCode");
    result.html = MemberText(*value, "html");
    result.key = MemberText(*value, "key");
    result.uri = MemberText(*value, "uri");
    result.message = MemberText(*value, "message");
    result.success = MemberBool(*value, "success");
    result.id = MemberText(*value, "id");
    result.data = MemberText(*value, "data");
    return result;
}

TUserSystemReply ReadUserSystemReply(const std::string &body)
{
    TUserSystemReply result;
    const std::optional<std::string> decoded = DecodeReply(body);
    const std::optional<json> value = decoded ? LeadingJson(*decoded) : std::nullopt;
    if (!value || !value->is_object())
        return result;
    result.data = MemberBool(*value, "data");
    result.success = MemberBool(*value, "success");
    return result;
}
