#pragma once

#include <optional>
#include <string>
#include <string_view>

// Reading the platform web service's replies. Pure text in, plain values out: every reply,
// however broken, gives a defined result.

// Undoes the form-encoding of a reply: "+" becomes a blank, "%XX" that byte, "%%" a "%".
// nullopt when a "%" is followed by anything else.
std::optional<std::string> DecodeReply(std::string_view text);

// The text of the value of the first "ErrorCode=" line of a reply of name=value lines, from
// the platform's error table; "No such ErrorCode " when there is none or it is not known.
std::string ErrorCodeText(std::string_view reply);

// True exactly for the text "true".
bool IsTrue(std::string_view text);

struct TAddVideoReply {
    std::string errorCode = "55";
    std::string message;
    std::string success = "false";
    std::string id;
};

struct TCategoryAndGradeReply {
    std::string errorCode, html, key, uri, message;
    bool success = false;
    std::string id;
    std::string data;  // the category document as JSON text
};

struct TUserSystemReply {
    bool data = false;
    bool success = false;
};

// The registration reply as returned with its error text appended; empty when the request
// failed.
TAddVideoReply ReadAddVideoReply(const std::string &replyWithErrorText);
// Reply bodies of the two other calls (not yet decoded).
TCategoryAndGradeReply ReadCategoryAndGradeReply(const std::string &body);
TUserSystemReply ReadUserSystemReply(const std::string &body);
