#include "updater/http.h"

namespace updater {

int HttpGetText(const std::wstring& url, std::string& bytes, const HttpOptions& options) {
    TextSink sink(bytes, options.LowSpeed());
    return HttpTransfer(url, options, sink);
}

int HttpGetFile(const std::wstring& url, const std::wstring& localPath, const HttpOptions& options,
                plat::Sha256* hash) {
    // Only a body whose hash is checked against a signed one may come
    // without Content-Length.
    FileSink sink(localPath, hash, options.LowSpeed(),
                  hash != nullptr ? kMaxUnannouncedInstaller : 0);
    return HttpTransfer(url, options, sink);
}

}  // namespace updater
