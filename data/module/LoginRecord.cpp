#include "data/module/LoginRecord.h"

#include "data/module/DMod.h"

namespace velmora::data {

std::int64_t appendLoginRecord(TDMod& dmod, std::int64_t sessionNo)
{
    Dataset& records = dmod.toper();
    try {
        if (!records.active())
            records.open();
        records.append();
        records.fieldByName("登录时间").setAsDateTime(DateTime::nowLocal());
        records.fieldByName("userid").setAsLargeInt(sessionNo);
        records.post();
        records.last();
        return records.fieldByName("operid").asLargeInt();
    } catch (...) {
        if (records.active() && records.editing())
            records.cancel();
        throw;
    }
}

} // namespace velmora::data
