#pragma once
// A mail as the system's mail transport takes it: RFC 5322 headers and a MIME body built with
// GMime (plain-text part plus one base64 attachment), written straight to a file so that a
// large attachment is never held in memory.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace fm::platform {

// The attachment's bytes, read in pieces while the message is written.
class AttachmentSource {
  public:
    virtual ~AttachmentSource() = default;
    // The next bytes into out; 0 at the end; -1 on failure (error() says why).
    virtual std::int64_t read(char* out, std::size_t len) = 0;
    virtual bool rewind() = 0;
    virtual bool atEnd() const = 0;
    virtual std::uint64_t size() const = 0;
    virtual std::string error() const = 0;
};

struct MailContent {
    std::vector<std::string> to;
    std::string subject;
    std::string body;  // plain text, UTF-8
    std::string attachmentName;
    std::string attachmentType;  // "type/subtype"
    std::shared_ptr<AttachmentSource> attachment;
    std::chrono::system_clock::time_point date;
};

// Writes the whole message (To, Subject, Date, Message-ID, MIME-Version, multipart/mixed
// body), with LF line ends, to the file open at fd from its current offset. Without an
// attachment the body is a single text/plain part. Returns false with *error set when the
// attachment cannot be read, the file cannot be written, or *cancelled turns true.
bool writeMimeMessage(const MailContent& content, int fd, std::string* error,
                      const std::atomic<bool>* cancelled = nullptr);

// About how many bytes the message takes with an attachment of attachmentBytes (base64 in
// lines of 76 characters, plus headers and body).
std::uint64_t estimatedMessageBytes(std::uint64_t attachmentBytes);

}  // namespace fm::platform
