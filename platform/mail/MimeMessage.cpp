#include "platform/mail/MimeMessage.h"

#include <gmime/gmime.h>

#include <memory>
#include <mutex>

namespace fm::platform {
namespace {

void initGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

template <typename T>
struct GObjectDeleter {
    void operator()(T* object) const { g_object_unref(object); }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectDeleter<T>>;

}  // namespace

std::string buildMimeMessage(const MailContent& content) {
    initGMime();
    GPtr<GMimeMessage> message(g_mime_message_new(TRUE));
    auto* object = GMIME_OBJECT(message.get());
    for (const std::string& address : content.to) {
        g_mime_message_add_mailbox(message.get(), GMIME_ADDRESS_TYPE_TO, nullptr, address.c_str());
    }
    g_mime_message_set_subject(message.get(), content.subject.c_str(), "utf-8");

    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(content.date.time_since_epoch()).count();
    GDateTime* date = g_date_time_new_from_unix_local(seconds);
    g_mime_message_set_date(message.get(), date);
    g_date_time_unref(date);

    char* id = g_mime_utils_generate_message_id(g_get_host_name());
    g_mime_message_set_message_id(message.get(), id);
    g_free(id);
    g_mime_object_set_header(object, "MIME-Version", "1.0", nullptr);

    GPtr<GMimeTextPart> text(g_mime_text_part_new_with_subtype("plain"));
    g_mime_text_part_set_text(text.get(), content.body.c_str());

    if (content.attachmentName.empty()) {
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(text.get()));
    } else {
        const std::string& type = content.attachmentType;
        const auto slash = type.find('/');
        GPtr<GMimePart> part(g_mime_part_new_with_type(
            type.substr(0, slash).c_str(),
            slash == std::string::npos ? "octet-stream" : type.substr(slash + 1).c_str()));
        GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(
            reinterpret_cast<const char*>(content.attachment.data()), content.attachment.size()));
        GPtr<GMimeDataWrapper> data(
            g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
        g_mime_part_set_content(part.get(), data.get());
        g_mime_part_set_filename(part.get(), content.attachmentName.c_str());
        g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);

        GPtr<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
        g_mime_multipart_add(mixed.get(), GMIME_OBJECT(text.get()));
        g_mime_multipart_add(mixed.get(), GMIME_OBJECT(part.get()));
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(mixed.get()));
    }

    char* bytes = g_mime_object_to_string(object, nullptr);
    std::string result(bytes);
    g_free(bytes);
    return result;
}

}  // namespace fm::platform
