#include "model/OnceRead.h"

#include "model/Areas.h"

namespace marovin_host {

ValueRef OnceRead::at(int k) const
{
    ValueRef ref = first;
    ref.address = first.address + k * addressStep(first.area);
    return ref;
}

}  // namespace marovin_host
