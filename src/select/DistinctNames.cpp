#include "DistinctNames.h"

#include <unordered_map>

namespace zeph {

std::vector<std::string> namesToldApart(const std::vector<std::string> &names,
                                        const std::vector<std::string> &aliases) {
    std::unordered_map<std::string, int> uses;
    for (const std::string &name : names)
        ++uses[name];
    std::vector<std::string> shown = names;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (uses[shown[i]] > 1 && i < aliases.size() && !aliases[i].empty())
            shown[i] += " (" + aliases[i] + ")";
    }
    return shown;
}

} // namespace zeph
