#include "interface_window/variant.h"

namespace skjk {
namespace {

constexpr int kAll = Connection::kAllRecords;

constexpr CellFormat kDate = CellFormat::kDate;
constexpr CellFormat kMoney = CellFormat::kMoney;
constexpr CellFormat kPlain = CellFormat::kPlain;
constexpr int kStd = kStandardColumnWidth;
constexpr Footer kCount = Footer::kCount;
constexpr Footer kSum = Footer::kSum;
constexpr Footer kNoFooter = Footer::kNone;

constexpr GridColumn kBbskDocuments[] = {
    {"单号", "DHAO00", 56},      {"业务日期", "YWRQ00", 72, true, kDate},
    {"单位代码", "DWDM00", 76},  {"单位名称", "DWMC00", 147},
    {"单位地址", "DZ0000", 129}, {"税务登记号", "SWDJH0", 131},
    {"开户银行", "KHYH00", 162}, {"银行帐号", "YHZH00", 106},
    {"发票本号", "FPBBH0", 99},  {"发票号", "FPHAO0", 85},
    {"备注", "BEIZHU", 267},
};

constexpr GridColumn kBbskLines[] = {
    {"单号", "DHAO00", 61, false},
    {"商品代码", "SPDM00", 81},
    {"商品名称", "SPMC00", 178},
    {"规格", "SPGG00", 59},
    {"单位", "JYDW00", 62},
    {"单价", "DJIA00", 65, true, kMoney},
    {"数量（条）", "SL0000", 105, true, kPlain},
    {"金额（元）", "JE0000", 105, true, kMoney},
    {"税额（元）", "SE0000", 105, true, kMoney},
};

constexpr TotalField kBbskTotals[] = {
    {"SLHJ00", {444, 1, 105, 20}, kPlain},
    {"JEHJ00", {550, 1, 105, 20}, kMoney},
    {"SEHJ00", {656, 1, 105, 20}, kMoney},
    {"ZJE000", {444, 21, 105, 20}, kMoney},
    {"JSHJ00", {550, 21, 211, 20}, kPlain},
};

constexpr GridColumn kFxskDocuments[] = {
    {"单号", "DHAO00", 56},      {"业务日期", "YWRQ00", kStd, true, kDate},
    {"单位代码", "DWDM00", 81},  {"单位名称", "DWMC00", 201},
    {"单位地址", "DZ0000", 170}, {"税务登记号", "SWDJH0", 104},
    {"开户银行", "KHYH00", 137}, {"银行帐号", "YHZH00", 124},
};

constexpr GridColumn kFxskLines[] = {
    {"单号", "DHAO00", 54, false},
    {"商品代码", "SPDM00", 74, true, kPlain, kCount},
    {"商品名称", "SPMC00", 124},
    {"规格", "SPGG00", 39},
    {"单位", "JYDW00", 30},
    {"发票本号", "FPBBH0", 70},
    {"发票号", "FPHAO0", 78},
    {"单价", "DJIA00", 46, true, kMoney},
    {"数量（条）", "SL0000", 100, true, kPlain, kSum},
    {"金额（元）", "JE0000", 100, true, kMoney, kSum},
    {"税额（元）", "SE0000", 100, true, kMoney, kSum},
};

// The user may filter the documents by number, business date, invoice date
// and invoice number.
constexpr GridColumn kJqskDocuments[] = {
    {"单号", "DHAO00", 65, true, kPlain, kNoFooter, /*filterable=*/true},
    {"业务日期", "YWRQ00", 116, true, kDate, kNoFooter, true},
    {"单位代码", "KHDM00", 81},
    {"单位名称", "DWMC00", 201},
    {"单位地址", "DWDZ00", 170},
    {"税务登记号", "SWDJH0", 104},
    {"开户银行", "KHYH00", 137},
    {"银行帐号", "YHZH00", 124},
    {"开票日期", "KPRQ00", kStd, true, kDate, kNoFooter, true},
    {"发票本号", "FPBBH0", 79},
    {"发票号", "FPHAO0", 80, true, kPlain, kNoFooter, true},
};

constexpr GridColumn kJqskLines[] = {
    {"单号", "DHAO00", 65, false},
    {"商品代码", "SPDM00", 81, true, kPlain, kCount, false, /*sorted=*/true},
    {"商品名称", "SPMC00", 153},
    {"规格", "SPGG00", 71},
    {"单位", "JYDW00", 54},
    {"单价", "DJIA00", 79, true, kMoney},
    {"数量（条）", "SL0000", 110, true, kPlain, kSum},
    {"金额（元）", "JE0000", 110, true, kMoney, kSum},
    {"税额（元）", "SE0000", 110, true, kMoney, kSum},
};

// Run after the customer line's invoices are written: the invoice number of
// each invoiced customer document goes onto its delivery lines. The lines of
// a customer document without one are left alone: they may carry a number
// the visit-sales window wrote, which must not be erased.
constexpr std::string_view kJqskClosing =
    "update XSTFXPS2 A SET A.FPHAO0=(select B.FPHAO0 FROM XSTJQSK1 B WHERE "
    "B.DHAO00=A.DHAO00 AND B.FPHAO0 IS NOT NULL) WHERE A.DHAO00 IN (SELECT "
    "DHAO00 FROM XSTJQSK1 WHERE FPHAO0 IS NOT NULL) AND SL0000<>0";

// The customer window's own copy of its customer's documents: the new,
// not-invoiced delivery documents, then the lines of every copied document
// that has none yet.
constexpr std::string_view kJqskSync[] = {
    "INSERT INTO XSTJQSK1(DHAO00,FPLB00,YWRQ00,YWRY00,KHDM00,DWMC00,DWDZ00,"
    "SWDJH0,KHYH00,YHZH00,CKDM00,SKBJ00) SELECT DISTINCT A.DHAO00,A.FPLB00,"
    "A.YWRQ00,A.YWRY00,A.KHDM00,NVL(B.KPMC00,B.KHMC00),NVL(B.KPDZ00,B.DWDZ00),"
    "B.SWDJH0,B.KHYH00,B.YHZH00,A.CKDM00,A.SKBJ00 FROM XSVFXPS0 A,GSTKHGL0 B "
    "WHERE B.KHMC00 LIKE 'vediruza%' AND A.KHDM00=B.KHDM00 AND A.FPLB00='Z' "
    "AND A.SL0000<>0 AND A.FPHAO0 IS NULL AND A.DHAO00 NOT IN (SELECT DHAO00 "
    "FROM XSTJQSK1)",
    "insert into XSTJQSK2(DHAO00,SPDM00,SPMC00,SPGG00,JYDW00,DJIA00,FXSL00,"
    "SL0000,THSL00,JE0000,SE0000,RBDH00) select A.DHAO00,A.SPDM00,B.SPMC00,"
    "B.SPGG00,B.JYDW00,A.DJIA00,A.FXSL00,A.SL0000,A.THSL00,A.JE0000,A.SE0000,"
    "A.RBDH00 from XSTFXPS2 A,GSTJYGL0 B WHERE A.SPDM00=B.SPDM00 AND A.DHAO00 "
    "IN (SELECT DHAO00 FROM XSTJQSK1) AND A.DHAO00 NOT IN (SELECT DHAO00 FROM "
    "XSTJQSK2) AND A.SL0000<>0",
};

// The void views are the same in every line.
constexpr MasterSetSpec kOpenVoid{"dsp_bbbf1", kAll};
constexpr MasterSetSpec kDoneVoid{"dsp_bbbf3", kAll};

constexpr Variant kBbsk{
    VariantKey::kBbsk,
    "Bbsk",
    "TFrmBbsk",
    "本部税控机接口",
    "本部税控机接口参数设置",
    {{{"dsp_bbsk1", kAll}, kOpenVoid, {"dsp_bbsk3", kAll}, kDoneVoid}},
    {.window = {0, 79, 797, 492},
     .work_panel = true,
     .simsun_window_font = true,
     .date_label = "日期区间：",
     .date_label_box = {203, 6, 66, 13},
     .document_columns = kBbskDocuments,
     .line_columns = kBbskLines,
     .line_columns_sizable = false,
     .totals = kBbskTotals,
     .pick_list_preset = false},
    {"DZ0000", true, ExportLine::Rate::kMasterRate},
    {false, "XSTXSFP1", "", ""}};

constexpr Variant kFxsk{
    VariantKey::kFxsk,
    "Fxsk",
    "TFrmFxsk",
    "税控机接口",
    "税控机接口参数设置",
    {{{"dsp_fxsk1", kAll}, kOpenVoid, {"dsp_fxsk3", 10}, kDoneVoid}},
    {.window = {1, 81, 797, 492},
     .work_panel = false,
     .simsun_window_font = false,
     .date_label = "日期区间：",
     .date_label_box = {203, 6, 66, 13},
     .document_columns = kFxskDocuments,
     .line_columns = kFxskLines,
     .line_columns_sizable = false,
     .totals = {},
     .pick_list_preset = true},
    {"DZ0000", false, ExportLine::Rate::kFixed},
    {false, "XSTFXPS2", "SL0000<>0 AND ", ""}};

constexpr Variant kJqsk{
    VariantKey::kJqsk,
    "Jqsk",
    "TFrmJqsk",
    "vu税控机接口",
    "vu税控机接口参数设置",
    {{{"dsp_jqsk1", kAll}, kOpenVoid, {"dsp_jqsk3", 10}, kDoneVoid}},
    {.window = {-1, 80, 797, 492},
     .work_panel = false,
     .simsun_window_font = false,
     .date_label = "业务日期区间：",
     .date_label_box = {187, 6, 84, 13},
     .document_columns = kJqskDocuments,
     .line_columns = kJqskLines,
     .line_columns_sizable = true,
     .totals = {},
     .pick_list_preset = true},
    {"DWDZ00", false, ExportLine::Rate::kFixedUnlessReference},
    {true, "XSTJQSK1", "", kJqskClosing},
    kJqskSync};

}  // namespace

const Variant& GetVariant(VariantKey key) {
  switch (key) {
    case VariantKey::kFxsk:
      return kFxsk;
    case VariantKey::kJqsk:
      return kJqsk;
    case VariantKey::kBbsk:
      break;
  }
  return kBbsk;
}

}  // namespace skjk
