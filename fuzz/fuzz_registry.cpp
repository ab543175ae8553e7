// The registry store's text format. A text either loads or is refused with
// RegistryFileError (anything else escaping is a finding); a text that loads saves to a
// text that loads back to the same store.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "simulator/registry/registry_store.h"

using namespace kav;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    sim::RegistryStore store;
    store.PutDword(u"\\Before", u"Kept", 1);
    try {
        store.FromText(text, "fuzz.reg");
    } catch (const sim::RegistryFileError& error) {
        fuzz::Require(error.Line() >= 1, "a refused text names no line");
        fuzz::Require(store.GetDword(u"\\Before", u"Kept") == 1u, "a refused text changed the store");
        return 0;
    }
    const std::string saved = store.ToText();
    sim::RegistryStore loaded;
    try {
        loaded.FromText(saved, "saved.reg");
    } catch (const sim::RegistryFileError&) {
        fuzz::Finding("a saved store does not load");
    }
    fuzz::Require(loaded.ToText() == saved, "a saved store loads back different");
    return 0;
}
