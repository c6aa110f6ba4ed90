// The identifier file's reader.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string_view>

#include <cutils/properties.h>

#include "diag/diag.h"
#include "store/files.h"
#include "store/sku_store.h"

namespace {

// One read takes at most 199 characters: a longer line is seen as several chunks, each
// replacing the value in turn.
constexpr int CHUNK_MAX = 200;

constexpr size_t STREAM_BUFFER_SIZE = 4096;

// `out` holds PROPERTY_VALUE_MAX bytes. A longer value (a chunk may be 199 characters) is cut
// rather than allowed to overrun it: it is what property_get would give for such a value.
void copy_value(char* out, std::string_view value) {
    size_t length = value.size() < PROPERTY_VALUE_MAX - 1 ? value.size() : PROPERTY_VALUE_MAX - 1;
    memcpy(out, value.data(), length);
    out[length] = '\0';
}

}  // namespace

void read_skuid_stream(FILE* stream, char* out) {
    char chunk[CHUNK_MAX];
    // A read error ends the file like its end does: what was read so far stands.
    while (fgets(chunk, sizeof(chunk), stream) != nullptr) {
        std::string_view line(chunk);
        if (line.find(SKUID_KEY) != std::string_view::npos) {
            // A property-file line: the value follows the first "=", wherever it stands.
            std::string_view value = line;
            size_t equals = line.find('=');
            if (equals != std::string_view::npos) value.remove_prefix(equals + 1);
            // The value runs to the end of the chunk, so it is NUL-terminated where it stands.
            sku_report_print_first(ANDROID_LOG_ERROR, "str_end1 is %s \n", value.data());
            copy_value(out, value);
        } else if (!line.empty()) {
            copy_value(out, line);
        }
    }
    sku_report_print_first(ANDROID_LOG_ERROR, "prop_value is %s\n", out);
}

bool g_sku_id(char* out) {
    int fd = open_regular_file(SKUID_FILE);
    FILE* stream = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (stream == nullptr) {
        if (fd >= 0) close(fd);
        set_step("8");
        sku_report(ANDROID_LOG_ERROR, "open sku folder %s :FAILED\n", SKUID_FILE);
        return false;
    }
    // A buffer of our own spares the stream the stat and the allocation it would make to size
    // one: the file is a few bytes, read once, on every boot.
    char buffer[STREAM_BUFFER_SIZE];
    setvbuf(stream, buffer, _IOFBF, sizeof(buffer));
    read_skuid_stream(stream, out);
    fclose(stream);
    set_step("10");
    return true;
}
