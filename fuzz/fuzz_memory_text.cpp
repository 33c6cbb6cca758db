// The simulator's memory text (--memory, --set): what loads dumps to a text
// that loads again (--dump-on-exit is reloadable) to the same cells, decimal
// floats aside, whose words only read back through their text.
#include <cstdint>
#include <vector>

#include "DeviceModel.h"
#include "FuzzCheck.h"
#include "MemoryText.h"

using marovin_device::Cell;
using marovin_device::DeviceModel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    DeviceModel first;
    std::string error;
    if (!marovin_device::loadMemoryText(first, marovin_fuzz::text(data, size), &error)) {
        check(error.compare(0, 5, "line ") == 0);
        return 0;
    }
    const std::string dump = marovin_device::dumpMemoryText(first);
    DeviceModel second;
    if (!marovin_device::loadMemoryText(second, dump, &error)) {
        std::fprintf(stderr, "dump does not load: %s\n%s", error.c_str(), dump.c_str());
        check(!"the dump loads");
    }
    const std::vector<Cell> a = first.cells();
    const std::vector<Cell> b = second.cells();
    check(a.size() == b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        check(a[i].station == b[i].station && a[i].space == b[i].space && a[i].address == b[i].address);
        check(a[i].view == 5 || a[i].value == b[i].value);
    }
    return 0;
}
