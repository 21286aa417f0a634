#include "upgrade/devicecheck.h"

#include "image/firmwareimage.h"

namespace devicecheck {

notices::Id check(const Facts& f)
{
    using notices::Id;
    if (!f.pathGiven)
        return Id::PathEmpty;
    // The family check comes before the format check.
    const int family = fwimage::familyRule(f.productId, f.deviceVersion, f.fileVersion);
    if (family == -1)
        return Id::FileMismatch;
    if (family == -2)
        return Id::SoftwareType;
    if (!f.wellFormed)
        return Id::FileFormat;
    return std::int32_t(f.deviceVersion) > f.fileVersion ? Id::LowerVersion : Id::None;
}

} // namespace devicecheck
