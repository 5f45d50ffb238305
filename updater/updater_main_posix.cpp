// The Updater on POSIX: the same flow, without any window.
#include <curl/curl.h>

#include <thread>

#include "platform/paths.h"
#include "updater/public_key.h"
#include "updater/updater_app.h"

namespace {

class PosixPlatform : public updater::IUpdaterPlatform {
  public:
    explicit PosixPlatform(int argc) : argc_(argc) {}

    bool Initialize() override {
        started_ = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        return started_;
    }
    bool HasArguments() override { return argc_ > 1; }
    std::wstring ModuleFilePath() override { return plat::ModuleFilePath(); }
    void Pause(std::chrono::milliseconds pause) override { std::this_thread::sleep_for(pause); }
    void Finish() override {
        if (started_) {
            curl_global_cleanup();
            started_ = false;
        }
    }

  private:
    int argc_;
    bool started_ = false;
};

}  // namespace

int main(int argc, char**) {
    PosixPlatform platform(argc);
    updater::NetworkHttp http(updater::HttpOptionsFromEnvironment());
    updater::CUpdaterApp theApp(platform, http, updater::RetryPolicyFromEnvironment(),
                                updater::UpdatePublicKey());
    theApp.StartInstance();
    return 0;
}
