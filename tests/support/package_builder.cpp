/* Data package fixtures; see package_builder.h. */
#include "package_builder.h"

#include <algorithm>
#include <fstream>

const std::vector<PackageColumn> &standardColumns() {
    static const std::vector<PackageColumn> columns = {
        {u"title", u"宝贝名称"}, {u"cid", u"宝贝类目"}, {u"seller_cids", u"店铺类目"},
        {u"stuff_status", u"新旧程度"}, {u"location_state", u"省"}, {u"location_city", u"城市"},
        {u"item_type", u"出售方式"}, {u"price", u"宝贝价格"}, {u"auction_increment", u"加价幅度"},
        {u"num", u"宝贝数量"}, {u"valid_thru", u"有效期"}, {u"freight_payer", u"运费承担"},
        {u"post_fee", u"平邮"}, {u"ems_fee", u"EMS"}, {u"express_fee", u"快递"},
        {u"has_invoice", u"发票"}, {u"has_warranty", u"保修"}, {u"approve_status", u"放入仓库"},
        {u"has_showcase", u"橱窗推荐"}, {u"list_time", u"开始时间"}, {u"description", u"宝贝描述"},
        {u"cateProps", u"宝贝属性"}, {u"postage_id", u"邮费模版ID"}, {u"has_discount", u"会员打折"},
        {u"modified", u"修改时间"}, {u"upload_fail_msg", u"上传状态"}, {u"picture_status", u"图片状态"},
        {u"auction_point", u"返点比例"}, {u"picture", u"新图片"}, {u"video", u"视频"},
        {u"skuProps", u"销售属性组合"}, {u"inputPids", u"用户输入ID串"}, {u"inputValues", u"用户输入名-值对"},
        {u"outer_id", u"商家编码"}, {u"propAlias", u"销售属性别名"}, {u"auto_fill", u"代充类型"},
        {u"num_id", u"数字ID"}, {u"local_cid", u"本地ID"}, {u"navigation_type", u"宝贝分类"},
        {u"user_name", u"用户名称"}, {u"syncStatus", u"宝贝状态"}, {u"is_lighting_consigment", u"闪电发货"},
        {u"is_xinpin", u"新品"}, {u"foodparame", u"食品专项"}, {u"features", u"尺码库"},
        {u"buyareatype", u"采购地"}, {u"global_stock_type", u"库存类型"}, {u"global_stock_country", u"国家地区"},
        {u"sub_stock_type", u"库存计数"}, {u"item_size", u"物流体积"}, {u"item_weight", u"物流重量"},
        {u"sell_promise", u"退换货承诺"}, {u"custom_design_flag", u"定制工具"}, {u"wireless_desc", u"无线详情"},
        {u"barcode", u"商品条形码"}, {u"sku_barcode", u"sku 条形码"}, {u"newprepay", u"7天退货"},
        {u"subtitle", u"宝贝卖点"}, {u"cpv_memo", u"属性值备注"}, {u"input_custom_cpv", u"自定义属性值"},
        {u"qualification", u"商品资质"}, {u"add_qualification", u"增加商品资质"},
    };
    return columns;
}

std::vector<PackageColumn> columnsWithout(const std::vector<std::u16string> &names) {
    std::vector<PackageColumn> kept;
    for (const PackageColumn &c : standardColumns())
        if (std::find(names.begin(), names.end(), c.name) == names.end()) kept.push_back(c);
    return kept;
}

static std::u16string quoted(const std::u16string &text) {
    std::u16string out = u"\"";
    for (char16_t c : text) out += c == u'"' ? std::u16string(u"\"\"") : std::u16string(1, c);
    return out + u"\"";
}

PackageRow itemRow(const std::u16string &title, const std::u16string &description,
                   const std::u16string &mobile, const std::u16string &selling) {
    return {{u"宝贝名称", quoted(title)},   {u"宝贝描述", quoted(description)}, {u"无线详情", quoted(mobile)},
            {u"宝贝卖点", quoted(selling)}, {u"宝贝价格", u"99.00"},             {u"商家编码", quoted(u"SKU-001")}};
}

template <class Fn>
static std::u16string line(const std::vector<PackageColumn> &columns, Fn value) {
    std::u16string out;
    for (size_t i = 0; i < columns.size(); i++) out += (i ? u"\t" : u"") + value(columns[i]);
    return out + u"\r\n";
}

std::u16string packageText(const std::vector<PackageRow> &rows, const std::vector<PackageColumn> &columns) {
    std::u16string text = u"version 1.00\r\n";
    text += line(columns, [](const PackageColumn &c) { return c.key; });
    text += line(columns, [](const PackageColumn &c) { return c.name; });
    for (const PackageRow &row : rows)
        text += line(columns, [&](const PackageColumn &c) { return row.count(c.name) ? row.at(c.name) : std::u16string(u"0"); });
    return text;
}

std::string packageBytes(const std::u16string &text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) bytes += {(char)(c & 0xFF), (char)(c >> 8)};
    return bytes;
}

bool writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary);
    return (bool)out.write(bytes.data(), bytes.size()).flush();
}

std::vector<std::string> remoteLinks(const std::string &packagePath) {
    LoadedPackage p(packagePath);
    std::vector<std::string> links;
    for (int32_t i = 0; i < p.count(); i++)
        for (PtrVector *list : {p.item(i)->descLinks, p.item(i)->mobileLinks})
            for (int32_t j = 0; list && j < list->count; j++) links.push_back((char *)list->items[j]);
    return links;
}

std::string loadedText(const std::string &packagePath) {
    LoadedPackage p(packagePath);
    return p.count() >= 0 && p.text ? p.text : "";
}
