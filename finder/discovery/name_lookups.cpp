#include "finder/discovery/name_lookups.h"

#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/text.h"

namespace discovery {

// What a lookup's thread and the search share; each thread holds it for as
// long as it runs, so it may outlive the search.
struct NameLookups::Shared {
    std::mutex lock;
    // Index of the name and its result, in the order the lookups finished.
    std::vector<std::pair<std::size_t, Result>> done;
};

NameLookups::NameLookups(const HostResolver& resolver, const std::vector<std::wstring>& names)
    : shared_(std::make_shared<Shared>()), names_(names), taken_(names.size(), false) {
    for (std::size_t i = 0; i < names_.size(); ++i) {
        Result failed{names_[i], false, {}};
        try {
            std::thread([shared = shared_, resolver, index = i, name = names_[i]] {
                Result result{name, false, {}};
                result.resolved = resolver(plat::ToUtf8(name), result.addresses);
                const std::lock_guard guard(shared->lock);
                shared->done.emplace_back(index, std::move(result));
            }).detach();
        } catch (const std::system_error&) {
            const std::lock_guard guard(shared_->lock);
            shared_->done.emplace_back(i, std::move(failed));
        }
        ++pending_;
    }
}

NameLookups::~NameLookups() = default;

std::vector<NameLookups::Result> NameLookups::Take() {
    std::vector<std::pair<std::size_t, Result>> done;
    {
        const std::lock_guard guard(shared_->lock);
        done.swap(shared_->done);
    }
    std::vector<Result> out;
    for (auto& [index, result] : done) {
        if (taken_[index]) {
            continue;
        }
        taken_[index] = true;
        --pending_;
        out.push_back(std::move(result));
    }
    return out;
}

std::vector<std::wstring> NameLookups::GiveUp() {
    std::vector<std::wstring> left;
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (!taken_[i]) {
            taken_[i] = true;
            left.push_back(names_[i]);
        }
    }
    pending_ = 0;
    return left;
}

}  // namespace discovery
