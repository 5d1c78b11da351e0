#pragma once

#include "runtime/Observable.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace parlaro {

enum class LayoutDirection { leftToRight, rightToLeft };

// The language of the program's own texts: chosen in the settings or
// following the system. It lives only in the settings store; nothing is
// cached, so a change shows at once.
namespace InterfaceLanguage {

struct Entry {
    std::string code;
    std::string nativeName;
};

// The 17 interface languages, in menu order. Their codes name the string
// table folders.
const std::vector<Entry>& supported();

// Bumped by every set(); views observe it to re-render their texts.
class Revision {
public:
    // The program's revision, or the one a Scope installed: every function
    // here reads and bumps that one, so texts and their observers agree.
    static Revision& shared();
    rt::Observable<std::int64_t> value{0};

    // Installs a revision of its own (a test's, a model's) for the scope's
    // lifetime, restoring the previous one afterwards. Main actor.
    class Scope {
    public:
        explicit Scope(Revision& revision);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Revision* previous_;
    };
};

// Where one Chinese text carries two meanings that other languages word
// differently, the key of the rarer one names its sense after the text:
// "设置⟨按键⟩" is the verb on the shortcut row, "设置" the settings heading.
// Without a translation such a key shows its text alone.
inline constexpr std::string_view senseOpen = "⟨";
inline constexpr std::string_view senseClose = "⟩";

// A string table; the main table has no entries, so every key shows as
// itself (the keys are the Simplified Chinese texts).
struct Bundle {
    std::string code;  // empty for the main table
    std::shared_ptr<const std::unordered_map<std::string, std::string>> table;

    std::string lookup(const std::string& key) const;
};

std::string current();
// Stores the choice (an unknown code follows the system); when the store
// refuses a write it throws and leaves the settings as they were.
void set(const std::string& code);
Bundle bundle();
LayoutDirection layoutDirection();
std::string list(const std::vector<std::string>& items);

}  // namespace InterfaceLanguage
}  // namespace parlaro
