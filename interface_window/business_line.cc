#include "interface_window/business_line.h"

namespace skjk {
namespace {

constexpr int kAll = Connection::kAllRecords;

constexpr CellFormat kDate = CellFormat::kDate;
constexpr CellFormat kMoney = CellFormat::kMoney;
constexpr CellFormat kPlain = CellFormat::kPlain;
constexpr int kStd = kStandardColumnWidth;
constexpr Footer kCount = Footer::kCount;
constexpr Footer kSum = Footer::kSum;

constexpr GridColumn kBbskDocuments[] = {
    {.caption = "单号", .field = "DHAO00", .width = 56},
    {.caption = "业务日期", .field = "YWRQ00", .width = 72, .format = kDate},
    {.caption = "单位代码", .field = "DWDM00", .width = 76},
    {.caption = "单位名称", .field = "DWMC00", .width = 147},
    {.caption = "单位地址", .field = "DZ0000", .width = 129},
    {.caption = "税务登记号", .field = "SWDJH0", .width = 131},
    {.caption = "开户银行", .field = "KHYH00", .width = 162},
    {.caption = "银行帐号", .field = "YHZH00", .width = 106},
    {.caption = "发票本号", .field = "FPBBH0", .width = 99},
    {.caption = "发票号", .field = "FPHAO0", .width = 85},
    {.caption = "备注", .field = "BEIZHU", .width = 267},
};

constexpr GridColumn kBbskLines[] = {
    {.caption = "单号", .field = "DHAO00", .width = 61, .visible = false},
    {.caption = "商品代码", .field = "SPDM00", .width = 81},
    {.caption = "商品名称", .field = "SPMC00", .width = 178},
    {.caption = "规格", .field = "SPGG00", .width = 59},
    {.caption = "单位", .field = "JYDW00", .width = 62},
    {.caption = "单价", .field = "DJIA00", .width = 65, .format = kMoney},
    {.caption = "数量（条）", .field = "SL0000", .width = 105},
    {.caption = "金额（元）",
     .field = "JE0000",
     .width = 105,
     .format = kMoney},
    {.caption = "税额（元）",
     .field = "SE0000",
     .width = 105,
     .format = kMoney},
};

constexpr TotalField kBbskTotals[] = {
    {.field = "SLHJ00", .box = {444, 1, 105, 20}, .format = kPlain},
    {.field = "JEHJ00", .box = {550, 1, 105, 20}, .format = kMoney},
    {.field = "SEHJ00", .box = {656, 1, 105, 20}, .format = kMoney},
    {.field = "ZJE000", .box = {444, 21, 105, 20}, .format = kMoney},
    {.field = "JSHJ00", .box = {550, 21, 211, 20}, .format = kPlain},
};

constexpr GridColumn kFxskDocuments[] = {
    {.caption = "单号", .field = "DHAO00", .width = 56},
    {.caption = "业务日期", .field = "YWRQ00", .width = kStd, .format = kDate},
    {.caption = "单位代码", .field = "DWDM00", .width = 81},
    {.caption = "单位名称", .field = "DWMC00", .width = 201},
    {.caption = "单位地址", .field = "DZ0000", .width = 170},
    {.caption = "税务登记号", .field = "SWDJH0", .width = 104},
    {.caption = "开户银行", .field = "KHYH00", .width = 137},
    {.caption = "银行帐号", .field = "YHZH00", .width = 124},
};

constexpr GridColumn kFxskLines[] = {
    {.caption = "单号", .field = "DHAO00", .width = 54, .visible = false},
    {.caption = "商品代码", .field = "SPDM00", .width = 74, .footer = kCount},
    {.caption = "商品名称", .field = "SPMC00", .width = 124},
    {.caption = "规格", .field = "SPGG00", .width = 39},
    {.caption = "单位", .field = "JYDW00", .width = 30},
    {.caption = "发票本号", .field = "FPBBH0", .width = 70},
    {.caption = "发票号", .field = "FPHAO0", .width = 78},
    {.caption = "单价", .field = "DJIA00", .width = 46, .format = kMoney},
    {.caption = "数量（条）", .field = "SL0000", .width = 100, .footer = kSum},
    {.caption = "金额（元）",
     .field = "JE0000",
     .width = 100,
     .format = kMoney,
     .footer = kSum},
    {.caption = "税额（元）",
     .field = "SE0000",
     .width = 100,
     .format = kMoney,
     .footer = kSum},
};

// The user may filter the documents by number, business date, invoice date
// and invoice number.
constexpr GridColumn kJqskDocuments[] = {
    {.caption = "单号", .field = "DHAO00", .width = 65, .filterable = true},
    {.caption = "业务日期",
     .field = "YWRQ00",
     .width = 116,
     .format = kDate,
     .filterable = true},
    {.caption = "单位代码", .field = "KHDM00", .width = 81},
    {.caption = "单位名称", .field = "DWMC00", .width = 201},
    {.caption = "单位地址", .field = "DWDZ00", .width = 170},
    {.caption = "税务登记号", .field = "SWDJH0", .width = 104},
    {.caption = "开户银行", .field = "KHYH00", .width = 137},
    {.caption = "银行帐号", .field = "YHZH00", .width = 124},
    {.caption = "开票日期",
     .field = "KPRQ00",
     .width = kStd,
     .format = kDate,
     .filterable = true},
    {.caption = "发票本号", .field = "FPBBH0", .width = 79},
    {.caption = "发票号", .field = "FPHAO0", .width = 80, .filterable = true},
};

constexpr GridColumn kJqskLines[] = {
    {.caption = "单号", .field = "DHAO00", .width = 65, .visible = false},
    {.caption = "商品代码",
     .field = "SPDM00",
     .width = 81,
     .footer = kCount,
     .sorted = true},
    {.caption = "商品名称", .field = "SPMC00", .width = 153},
    {.caption = "规格", .field = "SPGG00", .width = 71},
    {.caption = "单位", .field = "JYDW00", .width = 54},
    {.caption = "单价", .field = "DJIA00", .width = 79, .format = kMoney},
    {.caption = "数量（条）", .field = "SL0000", .width = 110, .footer = kSum},
    {.caption = "金额（元）",
     .field = "JE0000",
     .width = 110,
     .format = kMoney,
     .footer = kSum},
    {.caption = "税额（元）",
     .field = "SE0000",
     .width = 110,
     .format = kMoney,
     .footer = kSum},
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

// The void views and the void table are the same in every line.
constexpr MasterSetSource kOpenVoid{.provider = "dsp_bbbf1",
                                    .packet_size = kAll};
constexpr MasterSetSource kDoneVoid{.provider = "dsp_bbbf3",
                                    .packet_size = kAll};
constexpr std::string_view kVoidTable = "XSTBFFP1";

// Each line's name: its settings section and its key in the exchange
// journal.
constexpr std::string_view kBbskName = "Bbsk";
constexpr std::string_view kFxskName = "Fxsk";
constexpr std::string_view kJqskName = "Jqsk";

constexpr BusinessLine kBbsk{
    .key = BusinessLineKey::kBbsk,
    .name = kBbskName,
    .window_class = "TFrmBbsk",
    .caption = "本部税控机接口",
    .dialog_title = "本部税控机接口参数设置",
    .sets = {{{.provider = "dsp_bbsk1", .packet_size = kAll},
              kOpenVoid,
              {.provider = "dsp_bbsk3", .packet_size = kAll},
              kDoneVoid}},
    .look = {.window = {0, 79, 797, 492},
             .work_panel = true,
             .simsun_window_font = true,
             .date_label = "日期区间：",
             .date_label_box = {203, 6, 66, 13},
             .document_columns = kBbskDocuments,
             .line_columns = kBbskLines,
             .line_columns_sizable = false,
             .totals = kBbskTotals,
             .pick_list_preset = false},
    .exporting = {.line = kBbskName,
                  .address_field = "DZ0000",
                  .remark = true,
                  .rate = ExportRules::Rate::kMasterRate},
    .importing = {.line = kBbskName,
                  .sales_details = false,
                  .sales_table = "XSTXSFP1",
                  .void_table = kVoidTable},
};

constexpr BusinessLine kFxsk{
    .key = BusinessLineKey::kFxsk,
    .name = kFxskName,
    .window_class = "TFrmFxsk",
    .caption = "税控机接口",
    .dialog_title = "税控机接口参数设置",
    .sets = {{{.provider = "dsp_fxsk1", .packet_size = kAll},
              kOpenVoid,
              {.provider = "dsp_fxsk3", .packet_size = 10},
              kDoneVoid}},
    .look = {.window = {1, 81, 797, 492},
             .work_panel = false,
             .simsun_window_font = false,
             .date_label = "日期区间：",
             .date_label_box = {203, 6, 66, 13},
             .document_columns = kFxskDocuments,
             .line_columns = kFxskLines,
             .line_columns_sizable = false,
             .totals = {},
             .pick_list_preset = true},
    .exporting = {.line = kFxskName,
                  .address_field = "DZ0000",
                  .remark = false,
                  .rate = ExportRules::Rate::kFixed},
    .importing = {.line = kFxskName,
                  .sales_details = false,
                  .sales_table = "XSTFXPS2",
                  .sales_condition = "SL0000<>0 AND ",
                  .void_table = kVoidTable},
};

constexpr BusinessLine kJqsk{
    .key = BusinessLineKey::kJqsk,
    .name = kJqskName,
    .window_class = "TFrmJqsk",
    .caption = "vu税控机接口",
    .dialog_title = "vu税控机接口参数设置",
    .sets = {{{.provider = "dsp_jqsk1", .packet_size = kAll},
              kOpenVoid,
              {.provider = "dsp_jqsk3", .packet_size = 10},
              kDoneVoid}},
    .look = {.window = {-1, 80, 797, 492},
             .work_panel = false,
             .simsun_window_font = false,
             .date_label = "业务日期区间：",
             .date_label_box = {187, 6, 84, 13},
             .document_columns = kJqskDocuments,
             .line_columns = kJqskLines,
             .line_columns_sizable = true,
             .totals = {},
             .pick_list_preset = true},
    .exporting = {.line = kJqskName,
                  .address_field = "DWDZ00",
                  .remark = false,
                  .rate = ExportRules::Rate::kFixedUnlessReference},
    .importing = {.line = kJqskName,
                  .sales_details = true,
                  .sales_table = "XSTJQSK1",
                  .detail_table = "XSTJQSK2",
                  .void_table = kVoidTable,
                  .closing = kJqskClosing},
    .show_sync = kJqskSync,
};

}  // namespace

const BusinessLine& GetBusinessLine(BusinessLineKey key) {
  switch (key) {
    case BusinessLineKey::kFxsk:
      return kFxsk;
    case BusinessLineKey::kJqsk:
      return kJqsk;
    case BusinessLineKey::kBbsk:
      break;
  }
  return kBbsk;
}

}  // namespace skjk
