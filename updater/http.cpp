#include "updater/http.h"

namespace updater {

int HttpGetText(const std::wstring& url, std::string& bytes, const HttpOptions& options) {
    TextSink sink(bytes, options.LowSpeed());
    return HttpTransfer(url, options, sink);
}

int HttpGetFile(const std::wstring& url, const std::wstring& localPath, const HttpOptions& options,
                plat::Sha256* hash) {
    FileSink sink(localPath, hash, options.LowSpeed());
    return HttpTransfer(url, options, sink);
}

}  // namespace updater
