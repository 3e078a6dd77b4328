#pragma once
// A mail as the system's mail transport takes it: RFC 5322 headers and a MIME body built with
// GMime (plain-text part plus one base64 attachment).
#include <chrono>
#include <string>
#include <vector>

namespace fm::platform {

struct MailContent {
    std::vector<std::string> to;
    std::string subject;
    std::string body;  // plain text, UTF-8
    std::string attachmentName;
    std::string attachmentType;  // "type/subtype"
    std::vector<unsigned char> attachment;
    std::chrono::system_clock::time_point date;
};

// The whole message (To, Subject, Date, Message-ID, MIME-Version, multipart/mixed body), with
// LF line ends. Without an attachment the body is a single text/plain part.
std::string buildMimeMessage(const MailContent& content);

}  // namespace fm::platform
