// velmora-bench-generate: a new database filled with a shop's worth of made-up but realistic data (drug
// catalogue, stock, sign-on records, operators, departments, companies), the same for the same seed, for the
// benchmarks.

#include "bench/Random.h"

#include "data/Errors.h"
#include "data/Schema.h"
#include "data/engines/CommandText.h"
#include "data/engines/PasswordVerifier.h"
#include "data/engines/PgBackend.h"
#include "data/engines/SqliteBackend.h"
#include "data/module/Rights.h"
#include "import/DatabaseSource.h"
#include "import/Import.h"

#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace {

using velmora::bench::Random;
using namespace velmora::data;
namespace transfer = velmora::transfer;

const char* const usageText =
    R"(Usage: velmora-bench-generate FILE --drugs N --stock N --logins N --operators N [--seed S] [--password P]
       velmora-bench-generate --load FILE URI

Creates FILE (which must not exist) with the twelve tables and fills, in one transaction:
  ypzdk         N drugs (--drugs)         kc     N stock rows (--stock), spread over the drugs
  oper          N sign-on records (--logins)
  OperatorTable N operators (--operators); operator 1 is admin, password 1234, every rights group
  partment      8 departments             company 40 suppliers and customers
The same seed (default 1) gives the same file contents. --password installs a database password verifier,
as velmora-db create --password does.

--load copies the shop in FILE (made as above) into the server
database URI, which must hold none of the twelve tables: the tables as velmora-db create URI makes them, filled
as velmora-db copy fills them (the server's COPY, a batch at a time), in one transaction, and every identity key
moved past the loaded keys.
)";

// ---- word tables -------------------------------------------------------------------------------------------

// A piece of a name and the pinyin initials it adds to a 简码.
struct Piece
{
    std::string_view text;
    std::string_view initials;
};

constexpr Piece drugSyllables[] = {
    {"阿", "A"}, {"莫", "M"}, {"西", "X"}, {"林", "L"}, {"头", "T"}, {"孢", "B"}, {"克", "K"}, {"肟", "W"}, {"布", "B"},
    {"洛", "L"}, {"芬", "F"}, {"氯", "L"}, {"雷", "L"}, {"他", "T"}, {"定", "D"}, {"奥", "A"}, {"美", "M"}, {"拉", "L"},
    {"唑", "Z"}, {"甲", "J"}, {"硝", "X"}, {"环", "H"}, {"丙", "B"}, {"沙", "S"}, {"星", "X"}, {"左", "Z"}, {"氧", "Y"},
    {"氟", "F"}, {"罗", "L"}, {"红", "H"}, {"霉", "M"}, {"素", "S"}, {"维", "W"}, {"生", "S"}, {"利", "L"}, {"尼", "N"},
    {"地", "D"}, {"平", "P"}, {"卡", "K"}, {"托", "T"}, {"普", "P"}, {"酮", "T"}, {"胺", "A"}, {"安", "A"}, {"替", "T"},
    {"诺", "N"}, {"韦", "W"}, {"咪", "M"}, {"达", "D"}, {"昔", "X"}, {"康", "K"}, {"宁", "N"}, {"舒", "S"}, {"乐", "L"},
    {"欣", "X"}, {"泰", "T"}, {"通", "T"}, {"灵", "L"}, {"清", "Q"}, {"热", "R"}, {"解", "J"}, {"毒", "D"}, {"感", "G"},
    {"冒", "M"}, {"咳", "K"}, {"喘", "C"}, {"止", "Z"}, {"痛", "T"}, {"胃", "W"}, {"肠", "C"}, {"肝", "G"}, {"心", "X"},
    {"脑", "N"}, {"血", "X"}, {"脉", "M"}, {"参", "S"}, {"芪", "Q"}, {"草", "C"}, {"黄", "H"}, {"连", "L"}, {"花", "H"},
    {"金", "J"}, {"银", "Y"}, {"板", "B"}, {"蓝", "L"}, {"根", "G"}, {"菊", "J"}, {"桑", "S"}, {"柴", "C"}, {"胡", "H"},
    {"当", "D"}, {"归", "G"}, {"川", "C"}, {"芎", "X"}, {"丹", "D"}, {"七", "Q"}, {"三", "S"}, {"六", "L"}, {"味", "W"},
    {"五", "W"}, {"仁", "R"}, {"元", "Y"}, {"益", "Y"}, {"母", "M"}, {"大", "D"}, {"青", "Q"}, {"白", "B"}, {"石", "S"},
    {"枣", "Z"}, {"芍", "S"}, {"茯", "F"}, {"苓", "L"}, {"陈", "C"}, {"皮", "P"}, {"半", "B"}, {"夏", "X"}, {"香", "X"},
    {"砂", "S"}, {"桂", "G"}, {"枝", "Z"},
};

constexpr Piece drugPrefixes[] = {
    {"复方", "FF"}, {"小儿", "XE"}, {"盐酸", "YS"}, {"硫酸", "LS"}, {"马来酸", "MLS"}, {"枸橼酸", "JYS"},
};

// A dosage form: the name's ending, its 剂型, the packing unit and how a 规格 is written.
struct DosageForm
{
    Piece ending;
    std::string_view form;
    std::string_view unit;
    enum Pack { Capsules, Tablets, Sachets, Ampoules, Vials, Bottle, Tube } pack;
};

constexpr DosageForm dosageForms[] = {
    {{"胶囊", "JN"}, "胶囊剂", "盒", DosageForm::Capsules},    {{"片", "P"}, "片剂", "盒", DosageForm::Tablets},
    {{"缓释片", "HSP"}, "片剂", "盒", DosageForm::Tablets},    {{"分散片", "FSP"}, "片剂", "盒", DosageForm::Tablets},
    {{"肠溶片", "CRP"}, "片剂", "盒", DosageForm::Tablets},    {{"颗粒", "KL"}, "颗粒剂", "盒", DosageForm::Sachets},
    {{"注射液", "ZSY"}, "注射剂", "支", DosageForm::Ampoules}, {{"口服液", "KFY"}, "合剂", "盒", DosageForm::Vials},
    {{"糖浆", "TJ"}, "糖浆剂", "瓶", DosageForm::Bottle},      {{"滴眼液", "DYY"}, "滴眼剂", "支", DosageForm::Bottle},
    {{"软膏", "RG"}, "软膏剂", "支", DosageForm::Tube},        {{"滴丸", "DW"}, "丸剂", "瓶", DosageForm::Capsules},
    {{"丸", "W"}, "丸剂", "盒", DosageForm::Sachets},          {{"喷雾剂", "PWJ"}, "喷雾剂", "瓶", DosageForm::Bottle},
};

constexpr std::string_view categories[] = {"西药", "中成药", "中药饮片", "保健品", "医疗器械"};

constexpr Piece cities[] = {
    {"北京", "BJ"},    {"上海", "SH"}, {"广州", "GZ"}, {"天津", "TJ"}, {"重庆", "CQ"}, {"哈尔滨", "HEB"},
    {"石家庄", "SJZ"}, {"济南", "JN"}, {"杭州", "HZ"}, {"成都", "CD"}, {"西安", "XA"}, {"武汉", "WH"},
    {"长春", "CC"},    {"沈阳", "SY"}, {"昆明", "KM"}, {"南京", "NJ"},
};

constexpr Piece brands[] = {
    {"华润", "HR"}, {"同仁", "TR"}, {"康恩", "KE"}, {"白云", "BY"}, {"九州", "JZ"}, {"仁和", "RH"},
    {"太极", "TJ"}, {"修正", "XZ"}, {"三九", "SJ"}, {"恒瑞", "HR"}, {"天士", "TS"}, {"扬子", "YZ"},
    {"济民", "JM"}, {"海正", "HZ"}, {"鲁南", "LN"}, {"康泰", "KT"}, {"福瑞", "FR"}, {"金象", "JX"},
};

constexpr std::string_view makerEndings[] = {"制药有限公司", "药业股份有限公司", "制药厂", "生物制药有限公司",
                                             "药业集团有限公司"};

constexpr std::string_view symptoms[] = {
    "感冒发热", "头痛",     "咳嗽痰多",   "咽喉肿痛", "细菌感染",   "高血压",   "胃痛反酸", "腹泻",
    "失眠多梦", "关节疼痛", "过敏性鼻炎", "消化不良", "缺铁性贫血", "口腔溃疡", "湿疹瘙痒", "心悸气短",
};

constexpr std::string_view counters[] = {"西药柜", "中药柜", "A1", "A2", "B1", "B2", "冷藏柜", "处方柜", "非处方柜"};

constexpr std::string_view surnames[] = {"王", "李", "张", "刘", "陈", "杨", "黄", "赵", "吴", "周",
                                         "徐", "孙", "马", "朱", "胡", "郭", "何", "高", "林", "罗"};
constexpr std::string_view givenNames[] = {"伟", "芳", "娜", "敏", "静", "丽", "强",   "磊", "军",   "洋",  "勇",
                                           "艳", "杰", "娟", "涛", "明", "超", "秀英", "华", "建国", "桂兰"};
constexpr std::string_view jobs[] = {"店长", "营业员", "药师", "收银员", "仓管员", "质管员"};
constexpr std::string_view schooling[] = {"高中", "中专", "大专", "本科", "硕士"};
constexpr std::string_view districts[] = {"东城区", "西城区", "南岗区", "和平区", "高新区", "开发区"};
constexpr std::string_view streets[] = {"人民路", "解放路", "中山路", "建设大街", "和平街", "长江路"};

constexpr Piece departments[] = {
    {"零售部", "LSB"}, {"批发部", "PFB"}, {"采购部", "CGB"}, {"仓储部", "CCB"},
    {"质管部", "ZGB"}, {"财务部", "CWB"}, {"办公室", "BGS"}, {"门诊部", "MZB"},
};

// ---- dates ---------------------------------------------------------------------------------------------------

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
std::int64_t daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = static_cast<int>(y - era * 400);
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::string dateTimeText(std::int64_t secondsSinceEpoch)
{
    std::int64_t days = secondsSinceEpoch / 86400;
    std::int64_t rest = secondsSinceEpoch % 86400;
    days += 719468;
    const std::int64_t era = days / 146097;
    const int doe = static_cast<int>(days - era * 146097);
    const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int mp = (5 * doy + 2) / 153;
    const int d = doy - (153 * mp + 2) / 5 + 1;
    const int m = mp + (mp < 10 ? 3 : -9);
    const int y = static_cast<int>(yoe + era * 400) + (m <= 2);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", y, m, d, static_cast<int>(rest / 3600),
                  static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
    return buffer;
}

std::int64_t secondsAt(int y, int m, int d)
{
    return daysFromCivil(y, m, d) * 86400;
}

// ---- inserting -----------------------------------------------------------------------------------------------

// Rows into a table's named columns through the backend's own row writer (Backend::prepareInsert), a batch at a
// time, so that the generator fills the file the way an import does.
class Inserter
{
public:
    Inserter(Backend& backend, std::string_view table, std::span<const std::string_view> columns)
        : m_width(columns.size())
    {
        m_writer = backend.prepareInsert(std::string(table), {columns.begin(), columns.end()});
        m_rows.emplace_back().reserve(m_width);
    }

    Inserter& text(std::string_view value) { return add<std::string>(value); }
    Inserter& integer(std::int64_t value) { return add<std::int64_t>(value); }
    Inserter& real(double value) { return add<double>(value); }
    Inserter& null() { return add<std::monostate>(); }
    void row()
    {
        if (m_rows.back().size() != m_width)
            throw std::logic_error("a generated row has the wrong number of values");
        if (m_rows.size() >= BatchRows)
            flush();
        m_rows.emplace_back().reserve(m_width);
    }
    // Writes the rows still batched: the table is not complete before.
    void finish()
    {
        m_rows.pop_back(); // the row begun but never filled
        flush();
    }

private:
    static constexpr std::size_t BatchRows = 2000;

    template <class Kind, class... From> Inserter& add(From&&... from)
    {
        m_rows.back().emplace_back(std::in_place_type<Kind>, std::forward<From>(from)...);
        return *this;
    }
    void flush()
    {
        if (!m_rows.empty())
            m_writer->write(m_rows);
        m_rows.clear();
    }

    std::size_t m_width;
    std::unique_ptr<RowWriter> m_writer;
    std::vector<std::vector<Value>> m_rows; // the batch, its last row the one being filled
};

// ---- value makers ----------------------------------------------------------------------------------------------

std::string digits(Random& random, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += static_cast<char>('0' + random.below(10));
    return out;
}

std::string personName(Random& random)
{
    return std::string(random.pick(surnames)) + std::string(random.pick(givenNames));
}

std::string phone(Random& random)
{
    return "13" + digits(random, 9);
}

std::string address(Random& random)
{
    return std::string(random.pick(cities).text) + "市" + std::string(random.pick(districts)) +
           std::string(random.pick(streets)) + std::to_string(random.between(1, 999)) + "号";
}

// Money with two decimals, log-uniform so that cheap items are the most common.
double price(Random& random, double low, double high)
{
    const double v = std::exp(std::log(low) + random.unit() * (std::log(high) - std::log(low)));
    return std::round(v * 100) / 100;
}

// An 18-digit resident identity number with its ISO 7064 check character.
std::string identityNumber(Random& random, std::int64_t birthDay)
{
    const std::string birth = dateTimeText(birthDay * 86400);
    std::string id = std::to_string(random.between(110101, 659001)) + birth.substr(0, 4) + birth.substr(5, 2) +
                     birth.substr(8, 2) + digits(random, 3);
    static constexpr int weights[] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
    int sum = 0;
    for (int i = 0; i < 17; ++i)
        sum += (id[static_cast<std::size_t>(i)] - '0') * weights[i];
    id += "10X98765432"[sum % 11];
    return id;
}

struct Company
{
    std::string name;
    std::string initials;
};

Company makeCompany(Random& random, std::string_view ending, std::string_view endingInitials)
{
    const Piece& city = random.pick(cities);
    const Piece& brand = random.pick(brands);
    return {std::string(city.text) + std::string(brand.text) + std::string(ending),
            std::string(city.initials) + std::string(brand.initials) + std::string(endingInitials)};
}

std::string packing(Random& random, DosageForm::Pack pack)
{
    static constexpr std::string_view doses[] = {"0.1g", "0.25g", "0.5g", "5mg", "10mg", "20mg", "50mg"};
    const std::string dose(random.pick(doses));
    switch (pack) {
    case DosageForm::Capsules:
        return dose + "*" + std::to_string(6 * random.between(1, 8)) + "粒";
    case DosageForm::Tablets:
        return dose + "*" + std::to_string(6 * random.between(1, 8)) + "片";
    case DosageForm::Sachets:
        return std::to_string(random.between(3, 15)) + "g*" + std::to_string(random.between(6, 20)) + "袋";
    case DosageForm::Ampoules:
        return std::to_string(random.between(1, 10)) + "ml:" + dose + "*" + std::to_string(random.between(1, 10)) +
               "支";
    case DosageForm::Vials:
        return "10ml*" + std::to_string(random.between(6, 12)) + "支";
    case DosageForm::Bottle:
        return std::to_string(5 * random.between(1, 40)) + "ml";
    case DosageForm::Tube:
        return std::to_string(random.between(5, 30)) + "g";
    }
    return dose;
}

// ---- tables --------------------------------------------------------------------------------------------------

struct Options
{
    std::string file;
    std::int64_t drugs = -1, stock = -1, logins = -1, operators = -1;
    std::uint64_t seed = 1;
    std::optional<std::string> password;
};

constexpr int companyCount = 40;

std::vector<Company> fillCompanies(Backend& db, Random& random)
{
    constexpr std::string_view columns[] = {"简码", "名称", "法人", "电话",   "地址",
                                            "备注", "类型", "出入", "联系人", "clientid"};
    Inserter insert(db, "company", columns);
    std::vector<Company> all;
    for (int i = 1; i <= companyCount; ++i) {
        const bool supplier = i % 4 != 0;
        Company company =
            supplier ? makeCompany(random, "医药有限公司", "YYYXGS") : makeCompany(random, "大药房", "DYF");
        insert.text(company.initials.substr(0, 10))
            .text(company.name)
            .text(personName(random))
            .text(std::string("0").append(digits(random, 2)).append("-").append(digits(random, 8)))
            .text(address(random))
            .text(random.chance(0.2) ? "长期合作" : "")
            .text(supplier ? "供应商" : "客户")
            .integer(supplier ? 1 : 0)
            .text(personName(random))
            .real(i)
            .row();
        all.push_back(std::move(company));
    }
    insert.finish();
    return all;
}

void fillDepartments(Backend& db, Random& random)
{
    constexpr std::string_view columns[] = {"部门名称", "部门负责人", "负责人联系方式", "简码"};
    Inserter insert(db, "partment", columns);
    for (const Piece& department : departments)
        insert.text(department.text).text(personName(random)).text(phone(random)).text(department.initials).row();
    insert.finish();
}

void fillOperators(Backend& db, Random& random, std::int64_t count)
{
    constexpr std::string_view columns[] = {"username", "oper",     "职务",   "年龄",      "雇佣日期",
                                            "性别",     "学历",     "住址",   "身份证号",  "联系方式",
                                            "备注",     "所属部门", "userid", "passwords", "able"};
    Inserter insert(db, "OperatorTable", columns);
    const std::int64_t today = daysFromCivil(2026, 6, 30);
    for (std::int64_t i = 1; i <= count; ++i) {
        const int age = static_cast<int>(random.between(20, 60));
        const std::int64_t birthDay = today - age * 365 - random.between(0, 364);
        std::vector<int> groups;
        for (int g = 0; g < RightsGroupCount; ++g)
            if (i == 1 || random.chance(0.4))
                groups.push_back(g);
        char username[32];
        std::snprintf(username, sizeof username, "czy%04lld", static_cast<long long>(i));
        char department[8];
        std::snprintf(department, sizeof department, "%03d", static_cast<int>(random.between(1, 8)));
        insert.text(i == 1 ? "admin" : username)
            .text(personName(random))
            .text(random.pick(jobs))
            .integer(age)
            .text(dateTimeText(secondsAt(2005, 1, 1) + static_cast<std::int64_t>(random.below(21 * 365)) * 86400))
            .text(random.chance(0.6) ? "女" : "男")
            .text(random.pick(schooling))
            .text(address(random))
            .text(identityNumber(random, birthDay))
            .text(phone(random))
            .text(random.chance(0.1) ? "兼职" : "")
            .text(department)
            .real(static_cast<double>(i))
            .text(i == 1 ? "1234" : digits(random, static_cast<int>(random.between(4, 6))))
            .integer(rightsWordFor(groups))
            .row();
    }
    insert.finish();
}

struct Drug
{
    std::string id;
    double wholesale;
};

std::vector<Drug> fillDrugs(Backend& db, Random& random, std::int64_t count, const std::vector<Company>& companies)
{
    constexpr std::string_view columns[] = {"id",       "名称",     "编号",     "条码",     "简码",     "单位",
                                            "规格",     "生产厂家", "批准文号", "最高限量", "最低限量", "批发价",
                                            "零售价",   "主治",     "剂型",     "分类",     "生产批号", "供应商",
                                            "注册商标", "合格证",   "兑换点"};
    Inserter insert(db, "ypzdk", columns);
    std::vector<Drug> drugs;
    drugs.reserve(static_cast<std::size_t>(count));
    static constexpr std::string_view approvalKinds[] = {"H", "Z", "S", "J"};
    for (std::int64_t i = 1; i <= count; ++i) {
        std::string name, initials;
        if (random.chance(0.25)) {
            const Piece& prefix = random.pick(drugPrefixes);
            name += prefix.text;
            initials += prefix.initials;
        }
        const auto syllables = random.between(2, 4);
        for (std::int64_t s = 0; s < syllables; ++s) {
            const Piece& piece = random.pick(drugSyllables);
            name += piece.text;
            initials += piece.initials;
        }
        const DosageForm& form = random.pick(dosageForms);
        name += form.ending.text;
        initials += form.ending.initials;

        char id[32], code[32];
        std::snprintf(id, sizeof id, "%08lld", static_cast<long long>(i));
        std::snprintf(code, sizeof code, "YP%06lld", static_cast<long long>(i));
        const Piece& brand = random.pick(brands);
        const std::string maker =
            std::string(random.pick(cities).text) + std::string(brand.text) + std::string(random.pick(makerEndings));
        const double wholesale = price(random, 0.5, 400);
        const double retail = std::round(wholesale * (1.15 + 0.35 * random.unit()) * 100) / 100;
        const auto symptomCount = random.between(1, 3);
        std::string indication = "用于";
        for (std::int64_t s = 0; s < symptomCount; ++s)
            indication += (s ? "、" : "") + std::string(random.pick(symptoms));
        indication += "。";
        const std::string made =
            dateTimeText(secondsAt(2023, 1, 1) + static_cast<std::int64_t>(random.below(1200)) * 86400);

        insert.text(id)
            .text(name)
            .text(code)
            .text("69" + digits(random, 11))
            .text(initials.substr(0, 10))
            .text(form.unit)
            .text(packing(random, form.pack))
            .text(maker)
            .text("国药准字" + std::string(random.pick(approvalKinds)) + digits(random, 8))
            .integer(random.between(100, 1000))
            .integer(random.between(5, 50))
            .real(wholesale)
            .real(retail)
            .text(indication)
            .text(form.form)
            .text(random.pick(categories))
            .text(made.substr(2, 2) + made.substr(5, 2) + made.substr(8, 2) + digits(random, 2))
            .text(companies[random.below(companies.size())].name)
            .text(brand.text)
            .text(random.chance(0.9) ? "合格" : "GMP认证")
            .real(static_cast<double>(random.between(0, 20)))
            .row();
        drugs.push_back({id, wholesale});
    }
    insert.finish();
    return drugs;
}

void fillStock(Backend& db, Random& random, std::int64_t count, const std::vector<Drug>& drugs)
{
    if (drugs.empty() && count > 0)
        throw std::invalid_argument("stock rows need at least one drug");
    constexpr std::string_view columns[] = {"数量",     "购进单价", "购进金额", "购进日期",
                                            "生产日期", "有效期至", "ypid",     "柜组"};
    Inserter insert(db, "kc", columns);
    const std::int64_t first = secondsAt(2020, 1, 1);
    for (std::int64_t i = 0; i < count; ++i) {
        const Drug& drug = drugs[random.below(drugs.size())];
        const double quantity = static_cast<double>(random.between(0, 500));
        const double unitPrice = std::round(drug.wholesale * (0.9 + 0.2 * random.unit()) * 100) / 100;
        const std::int64_t bought =
            first + static_cast<std::int64_t>(random.below(6 * 365)) * 86400 + random.between(9 * 3600, 18 * 3600);
        const std::int64_t madeDay = bought / 86400 - random.between(30, 365);
        insert.real(quantity)
            .real(unitPrice)
            .real(std::round(quantity * unitPrice * 100) / 100)
            .text(dateTimeText(bought))
            .text(dateTimeText(madeDay * 86400))
            .text(dateTimeText((madeDay + random.between(2 * 365, 3 * 365)) * 86400))
            .text(drug.id)
            .text(random.pick(counters))
            .row();
    }
    insert.finish();
}

void fillLogins(Backend& db, Random& random, std::int64_t count, std::int64_t operators)
{
    constexpr std::string_view columns[] = {"登录时间", "退出时间", "userid"};
    Inserter insert(db, "oper", columns);
    // Oldest first, as sign-ons append them, over the shop's last ten years.
    const std::int64_t first = secondsAt(2016, 7, 1);
    const std::int64_t span = secondsAt(2026, 6, 30) - first;
    for (std::int64_t i = 0; i < count; ++i) {
        const std::int64_t at = first + span * i / count + random.between(0, 600);
        insert.text(dateTimeText(at));
        if (random.chance(0.03))
            insert.null(); // never signed out: a crash or a power cut
        else
            insert.text(dateTimeText(at + random.between(600, 10 * 3600)));
        insert.text(std::to_string(operators > 0 ? random.between(1, operators) : 1)).row();
    }
    insert.finish();
}

// ---- loading a server ----------------------------------------------------------------------------------------

int loadServer(const std::string& file, const std::string& uri)
{
    const auto started = std::chrono::steady_clock::now();
    auto server = PgBackend::connect(uri, "", "");
    for (const std::string& name : server->tableNames())
        if (findTable(name))
            throw DatabaseError("the server database already holds the table " + name);
    // Read without the database password, which the file's readers check and this copy has no need of.
    sqlite3* opened = nullptr;
    const int status = sqlite3_open_v2(file.c_str(), &opened, SQLITE_OPEN_READONLY, nullptr);
    SqliteHandle handle(opened);
    if (status != SQLITE_OK)
        throw DatabaseError(file + ": " + (opened ? sqlite3_errmsg(opened) : "cannot open"));
    const transfer::DatabaseSource source(std::make_unique<SqliteBackend>(std::move(handle), file),
                                          transfer::Engine::File);

    // The tables as velmora-db create URI makes them, then velmora-db copy's own writing of the rows (the server's
    // COPY) and moving of each key's counter past the loaded keys, all in one transaction.
    transfer::ImportSummary summary;
    server->beginTransaction();
    try {
        server->execute(serverSchemaScript());
        summary = transfer::importTables(source, *server, transfer::Engine::Server, nullptr);
        server->commit();
    } catch (...) {
        try {
            server->rollback();
        } catch (const DatabaseError&) {
            // The failure that got here is the one to tell.
        }
        throw;
    }
    for (const std::string& warning : summary.warnings)
        std::cerr << "velmora-bench-generate: warning: " << warning << "\n";
    std::int64_t total = 0;
    std::string analyze = "ANALYZE ";
    for (const TableDefinition& table : schemaTables())
        analyze += (&table == &schemaTables().front() ? "" : ", ") + quoteIdentifier(table.name);
    for (const transfer::TableSummary& table : summary.tables)
        total += table.rowsWritten;
    // The server plans the program's reads from fresh statistics, as after a long day's use.
    server->execute(analyze);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("Loaded %s into %s: %lld rows in %zu tables in %.1f s\n", file.c_str(), redactedServerUri(uri).c_str(),
                static_cast<long long>(total), summary.tables.size(), seconds);
    return 0;
}

std::int64_t count(const char* text, const char* option)
{
    char* end = nullptr;
    const long long n = std::strtoll(text, &end, 10);
    if (!*text || *end || n < 0)
        throw std::invalid_argument(std::string(option) + " needs a whole number >= 0, not '" + text + "'");
    return n;
}

Options parseArguments(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--help") {
            std::cout << usageText;
            std::exit(0);
        }
        if (word.starts_with("--")) {
            if (i + 1 >= argc)
                throw std::invalid_argument(std::string(word) + " needs a value");
            const char* value = argv[++i];
            if (word == "--drugs")
                o.drugs = count(value, "--drugs");
            else if (word == "--stock")
                o.stock = count(value, "--stock");
            else if (word == "--logins")
                o.logins = count(value, "--logins");
            else if (word == "--operators")
                o.operators = count(value, "--operators");
            else if (word == "--seed")
                o.seed = static_cast<std::uint64_t>(count(value, "--seed"));
            else if (word == "--password")
                o.password = value;
            else
                throw std::invalid_argument("unknown option " + std::string(word));
        } else if (o.file.empty()) {
            o.file = word;
        } else {
            throw std::invalid_argument("only one FILE, not also '" + std::string(word) + "'");
        }
    }
    if (o.file.empty() || o.drugs < 0 || o.stock < 0 || o.logins < 0 || o.operators < 0)
        throw std::invalid_argument("FILE, --drugs, --stock, --logins and --operators are needed");
    return o;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::string_view(argv[1]) == "--load") {
        if (argc != 4) {
            std::cerr << "velmora-bench-generate: --load needs FILE and URI\n\n" << usageText;
            return 2;
        }
        try {
            return loadServer(argv[2], argv[3]);
        } catch (const std::exception& e) {
            std::cerr << "velmora-bench-generate: " << e.what() << "\n";
            return 1;
        }
    }
    Options options;
    try {
        options = parseArguments(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "velmora-bench-generate: " << e.what() << "\n\n" << usageText;
        return 2;
    }
    const auto started = std::chrono::steady_clock::now();
    std::unique_ptr<SqliteBackend> backend;
    try {
        backend = createDatabaseFile(options.file);
        // Each table draws from its own stream, so changing one size leaves the others' contents alone.
        Random companiesRandom(options.seed * 8 + 1), departmentsRandom(options.seed * 8 + 2),
            operatorsRandom(options.seed * 8 + 3), drugsRandom(options.seed * 8 + 4), stockRandom(options.seed * 8 + 5),
            loginsRandom(options.seed * 8 + 6);
        backend->beginTransaction();
        backend->execute(schemaScript());
        Backend& db = *backend;
        const std::vector<Company> companies = fillCompanies(db, companiesRandom);
        fillDepartments(db, departmentsRandom);
        fillOperators(db, operatorsRandom, options.operators);
        const std::vector<Drug> drugs = fillDrugs(db, drugsRandom, options.drugs, companies);
        fillStock(db, stockRandom, options.stock, drugs);
        fillLogins(db, loginsRandom, options.logins, options.operators);
        backend->commit();
        if (options.password)
            installPasswordVerifier(backend->handle(), *options.password);
        backend->execute("PRAGMA wal_checkpoint(TRUNCATE)");
    } catch (const std::exception& e) {
        std::cerr << "velmora-bench-generate: " << e.what() << "\n";
        if (backend) {
            // A half-filled file must not be taken for a finished one.
            const std::string path = backend->path();
            backend.reset();
            std::error_code ec;
            for (const char* suffix : {"", "-wal", "-shm"})
                std::filesystem::remove(path + suffix, ec);
        }
        return 1;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("Generated %s: %lld drugs, %lld stock rows, %lld logins, %lld operators (seed %llu) in %.1f s\n",
                options.file.c_str(), static_cast<long long>(options.drugs), static_cast<long long>(options.stock),
                static_cast<long long>(options.logins), static_cast<long long>(options.operators),
                static_cast<unsigned long long>(options.seed), seconds);
    return 0;
}
