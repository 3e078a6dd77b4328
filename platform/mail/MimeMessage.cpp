#include "platform/mail/MimeMessage.h"

#include <gmime/gmime.h>

#include <cerrno>
#include <cstring>
#include <mutex>

// A read-only GMime stream over an AttachmentSource: GMime pulls the attachment through its
// base64 filter a few kilobytes at a time.
struct FmSourceStream {
    GMimeStream parent;
    fm::platform::AttachmentSource* source;
    const std::atomic<bool>* cancelled;
};
struct FmSourceStreamClass {
    GMimeStreamClass parent_class;
};

G_DEFINE_TYPE(FmSourceStream, fm_source_stream, GMIME_TYPE_STREAM)

namespace {

FmSourceStream* sourceStream(GMimeStream* stream) {
    return reinterpret_cast<FmSourceStream*>(stream);
}

ssize_t sourceRead(GMimeStream* stream, char* buf, size_t len) {
    FmSourceStream* s = sourceStream(stream);
    if (s->cancelled != nullptr && s->cancelled->load()) {
        return -1;
    }
    const std::int64_t n = s->source->read(buf, len);
    if (n < 0) {
        return -1;
    }
    stream->position += n;
    return static_cast<ssize_t>(n);
}
ssize_t sourceWrite(GMimeStream*, const char*, size_t) {
    return -1;
}
int sourceFlush(GMimeStream*) {
    return 0;
}
int sourceClose(GMimeStream*) {
    return 0;
}
gboolean sourceEos(GMimeStream* stream) {
    return sourceStream(stream)->source->atEnd() ? TRUE : FALSE;
}
int sourceReset(GMimeStream* stream) {
    return sourceStream(stream)->source->rewind() ? 0 : -1;
}
gint64 sourceSeek(GMimeStream* stream, gint64 offset, GMimeSeekWhence whence) {
    if (offset != 0 || whence != GMIME_STREAM_SEEK_SET || sourceReset(stream) != 0) {
        return -1;
    }
    stream->position = 0;
    return 0;
}
gint64 sourceTell(GMimeStream* stream) {
    return stream->position;
}
gint64 sourceLength(GMimeStream* stream) {
    return static_cast<gint64>(sourceStream(stream)->source->size());
}
GMimeStream* sourceSubstream(GMimeStream*, gint64, gint64) {
    return nullptr;
}

}  // namespace

static void fm_source_stream_class_init(FmSourceStreamClass* klass) {
    GMimeStreamClass* s = GMIME_STREAM_CLASS(klass);
    s->read = sourceRead;
    s->write = sourceWrite;
    s->flush = sourceFlush;
    s->close = sourceClose;
    s->eos = sourceEos;
    s->reset = sourceReset;
    s->seek = sourceSeek;
    s->tell = sourceTell;
    s->length = sourceLength;
    s->substream = sourceSubstream;
}

static void fm_source_stream_init(FmSourceStream* self) {
    self->source = nullptr;
    self->cancelled = nullptr;
}

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

bool writeMimeMessage(const MailContent& content, int fd, std::string* error,
                      const std::atomic<bool>* cancelled) {
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

    if (!content.attachment) {
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(text.get()));
    } else {
        if (!content.attachment->rewind()) {
            *error = content.attachment->error();
            return false;
        }
        const std::string& type = content.attachmentType;
        const auto slash = type.find('/');
        GPtr<GMimePart> part(g_mime_part_new_with_type(
            type.substr(0, slash).c_str(),
            slash == std::string::npos ? "octet-stream" : type.substr(slash + 1).c_str()));
        auto* source =
            static_cast<FmSourceStream*>(g_object_new(fm_source_stream_get_type(), nullptr));
        source->source = content.attachment.get();
        source->cancelled = cancelled;
        GPtr<GMimeStream> stream(GMIME_STREAM(source));
        g_mime_stream_construct(stream.get(), 0, -1);
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

    // A plain writer on the descriptor: the file is handed on at once, not kept.
    GPtr<GMimeStream> file(g_mime_stream_pipe_new(fd));
    g_mime_stream_pipe_set_owner(GMIME_STREAM_PIPE(file.get()), FALSE);
    GPtr<GMimeStream> out(g_mime_stream_buffer_new(file.get(), GMIME_STREAM_BUFFER_BLOCK_WRITE));
    errno = 0;
    bool ok = g_mime_object_write_to_stream(object, nullptr, out.get()) >= 0;
    ok = ok && g_mime_stream_flush(out.get()) == 0;
    const int writeError = errno;
    if (ok) {
        return true;
    }
    if (cancelled != nullptr && cancelled->load()) {
        *error = "cancelled";
    } else if (content.attachment && !content.attachment->error().empty()) {
        *error = content.attachment->error();
    } else {
        *error = std::string("cannot write the message: ") +
                 std::strerror(writeError != 0 ? writeError : EIO);
    }
    return false;
}

std::uint64_t estimatedMessageBytes(std::uint64_t attachmentBytes) {
    const std::uint64_t encoded = (attachmentBytes + 2) / 3 * 4;
    return encoded + (encoded + 75) / 76 + 2048;
}

}  // namespace fm::platform
