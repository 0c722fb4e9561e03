#include "appserver/sample.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace skjk::appserver {
namespace {

// splitmix64: small, fast and the same everywhere.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  int Uniform(int n) {
    return static_cast<int>(Next() % static_cast<uint64_t>(n));
  }
  bool Chance(int percent) { return Uniform(100) < percent; }
  template <typename T>
  const T& Pick(const std::vector<T>& v) {
    return v[Uniform(static_cast<int>(v.size()))];
  }

 private:
  uint64_t state_;
};

struct Customer {
  std::string code, name, invoice_name, address, invoice_address, tax_number,
      bank, account;
};

struct Goods {
  std::string code, name, packing, unit;
  double price;
};

std::string Date(int day_of_2024) {
  static const int kMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int m = 0;
  while (m < 11 && day_of_2024 >= kMonth[m]) day_of_2024 -= kMonth[m++];
  char b[48];
  std::snprintf(b, sizeof b, "2024-%02d-%02d", m + 1, day_of_2024 + 1);
  return b;
}

double Round2(double v) { return std::round(v * 100.0) / 100.0; }

std::string Money(double v) {
  char b[40];
  std::snprintf(b, sizeof b, "%.2f", v);
  return b;
}

std::vector<Customer> MakeCustomers(Random* r, int count) {
  static const std::vector<std::string> kCities = {
      "杭州", "宁波", "温州", "嘉兴", "湖州",
      "绍兴", "金华", "衢州", "舟山", "台州"};
  static const std::vector<std::string> kWords = {
      "华联", "永昌", "金叶", "鑫源", "恒通",
      "顺达", "嘉禾", "兴隆", "福满", "佳美"};
  static const std::vector<std::string> kKinds = {
      "烟酒店", "商贸有限公司", "便利店", "超市", "副食品商店"};
  static const std::vector<std::string> kBanks = {
      "中国工商银行", "中国农业银行", "中国建设银行", "中国银行", "农村信用社"};
  static const std::vector<std::string> kStreets = {
      "解放路", "人民路", "中山路", "建设路", "环城北路"};
  std::vector<Customer> v;
  for (int i = 0; i < count; ++i) {
    Customer c;
    char code[16];
    std::snprintf(code, sizeof code, "K%07d", i + 1);
    c.code = code;
    std::string city = r->Pick(kCities);
    if (i == 0) {
      c.name = "vediruza商贸有限公司";
    } else if (i == 1) {
      c.name = "Vediruza烟酒店";  // upper case: not the customer window's
    } else if (i == 2) {
      c.name = city + "vediruza便利店";  // contains, does not begin with it
    } else {
      c.name = city + r->Pick(kWords) + r->Pick(kKinds);
    }
    c.address = city + "市" + r->Pick(kStreets) +
                std::to_string(r->Uniform(300) + 1) + "号";
    if (r->Chance(40)) {
      c.invoice_name = c.name;
      c.invoice_address = c.address;
    }
    if (i == 0 || !r->Chance(10)) {
      c.tax_number =
          "3301" + std::to_string(100000000000LL +
                                  r->Uniform(900000000) * 100LL + i % 100);
    }
    if (i == 0 || !r->Chance(10)) {
      c.bank = r->Pick(kBanks) + city + "支行";
      c.account =
          std::to_string(1202000000000000LL + r->Next() % 999999999999LL);
    }
    v.push_back(c);
  }
  return v;
}

std::vector<Goods> MakeGoods() {
  static const char* kBrands[] = {"金叶",   "云峰",   "白沙湾", "红梅岭",
                                  "长城关", "玉溪岸", "黄山松", "南湖",
                                  "利群湾", "紫金",   "钓鱼台", "芙蓉"};
  static const char* kKinds[] = {"(硬)", "(软)", "(细支)"};
  static const char* kPackings[] = {"84mm硬盒", "84mm软盒", "97mm细支"};
  std::vector<Goods> v;
  int n = 0;
  for (const char* brand : kBrands) {
    for (int k = 0; k < 3; ++k) {
      Goods g;
      char code[16];
      std::snprintf(code, sizeof code, "6901%04d", ++n);
      g.code = code;
      g.name = std::string(brand) + kKinds[k];
      g.packing = kPackings[k];
      g.unit = "条";
      g.price = 50.0 + (n * 37) % 600;
      v.push_back(g);
    }
  }
  return v;
}

// Binds a text, NULL for an empty one.
Status Text(Statement* s, int i, const std::string& v) {
  if (v.empty()) return s->BindNull(i);
  return s->BindText(i, v);
}

Status Run(Statement* s) {
  auto r = s->Step();
  s->Reset();
  return r.status();
}

struct Line {
  const Goods* goods;
  double qty, amount, tax;
};

class Generator {
 public:
  Generator(DbSession* db, const SampleOptions& o)
      : db_(db), o_(o), r_(o.seed) {}

  Status Run() {
    int customers = static_cast<int>(
        std::min<int64_t>(500, std::max<int64_t>(20, o_.documents / 20)));
    customers_ = MakeCustomers(&r_, customers);
    goods_ = MakeGoods();
    SKJK_RETURN_IF_ERROR(Customers());
    SKJK_RETURN_IF_ERROR(GoodsRows());
    SKJK_RETURN_IF_ERROR(Documents("XSTXSFP1", "XSTXSFP2", 1000000, true));
    SKJK_RETURN_IF_ERROR(Documents("XSTBFFP1", "XSTBFFP2", 2000000, false));
    return VisitSales();
  }

 private:
  Result<Statement*> Prep(const std::string& sql) { return db_->Prepare(sql); }

  Status Customers() {
    auto s = Prep(
        "INSERT INTO GSTKHGL0 (KHDM00,KHMC00,KPMC00,KPDZ00,DWDZ00,SWDJH0,"
        "KHYH00,YHZH00) VALUES (?,?,?,?,?,?,?,?)");
    if (!s.ok()) return s.status();
    for (const Customer& c : customers_) {
      Statement* st = *s;
      SKJK_RETURN_IF_ERROR(Text(st, 1, c.code));
      SKJK_RETURN_IF_ERROR(Text(st, 2, c.name));
      SKJK_RETURN_IF_ERROR(Text(st, 3, c.invoice_name));
      SKJK_RETURN_IF_ERROR(Text(st, 4, c.invoice_address));
      SKJK_RETURN_IF_ERROR(Text(st, 5, c.address));
      SKJK_RETURN_IF_ERROR(Text(st, 6, c.tax_number));
      SKJK_RETURN_IF_ERROR(Text(st, 7, c.bank));
      SKJK_RETURN_IF_ERROR(Text(st, 8, c.account));
      SKJK_RETURN_IF_ERROR(appserver::Run(st));
    }
    return Status::OK();
  }

  Status GoodsRows() {
    auto s = Prep(
        "INSERT INTO GSTJYGL0 (SPDM00,SPMC00,SPGG00,JYDW00) VALUES (?,?,?,?)");
    if (!s.ok()) return s.status();
    for (const Goods& g : goods_) {
      Statement* st = *s;
      SKJK_RETURN_IF_ERROR(Text(st, 1, g.code));
      SKJK_RETURN_IF_ERROR(Text(st, 2, g.name));
      SKJK_RETURN_IF_ERROR(Text(st, 3, g.packing));
      SKJK_RETURN_IF_ERROR(Text(st, 4, g.unit));
      SKJK_RETURN_IF_ERROR(appserver::Run(st));
    }
    return Status::OK();
  }

  int LineCount() { return o_.lines >= 0 ? o_.lines : r_.Uniform(11); }

  std::vector<Line> Lines(double rate, bool allow_zero) {
    std::vector<Line> v(LineCount());
    for (Line& l : v) {
      l.goods = &r_.Pick(goods_);
      l.qty = allow_zero && r_.Chance(5) ? 0 : 1 + r_.Uniform(50);
      l.amount = Round2(l.goods->price * l.qty);
      l.tax = Round2(l.amount * rate / 100.0);
    }
    return v;
  }

  int Day(int64_t i) {
    return static_cast<int>(i * 182 / std::max<int64_t>(1, o_.documents));
  }

  std::string InvoiceNumber() {
    char b[48];
    std::snprintf(b, sizeof b, "%08d", 1 + r_.Uniform(99999999));
    return b;
  }

  Status Documents(const char* table, const char* line_table, int64_t base,
                   bool sales) {
    static const std::vector<std::string> kClerks = {"张明", "李娜", "王强",
                                                     "赵丽", "陈刚"};
    std::string cols =
        "DHAO00,YWRQ00,YWRY00,CKRQ00,CKRY00,CWRQ00,CWRY00,DWDM00,CKDM00,"
        "THCKDM,FPLB00,XSFSDM,ZZSL00,PZNY00,PZH000,FKDM00,DWMC00,DZ0000,"
        "DWXZ00,DWSNW0,XTXZ00,KHYH00,YHZH00,SWDJH0,FPBBH0,FPHAO0,SLHJ00,"
        "JEHJ00,SEHJ00,ZJE000,JSHJ00,BEIZHU";
    int n = 32;
    if (sales) {
      cols += ",GSDW00,SJDHAO";
      n += 2;
    }
    std::string marks;
    for (int i = 0; i < n; ++i) marks += i ? ",?" : "?";
    auto head = Prep(std::string("INSERT INTO ") + table + " (" + cols +
                     ") VALUES (" + marks + ")");
    if (!head.ok()) return head.status();
    auto line = Prep(std::string("INSERT INTO ") + line_table +
                     " (DHAO00,SPDM00,DJIA00,SL0000,JE0000,SE0000) "
                     "VALUES (?,?,?,?,?,?)");
    if (!line.ok()) return line.status();
    Statement* h = *head;
    Statement* l = *line;
    for (int64_t i = 0; i < o_.documents; ++i) {
      int64_t number = base + i + 1;
      const Customer& c =
          customers_[r_.Uniform(static_cast<int>(customers_.size()))];
      double rate = r_.Chance(80) ? 13 : 17;
      std::vector<Line> lines = Lines(rate, false);
      double qty = 0, amount = 0, tax = 0;
      for (const Line& x : lines) {
        qty += x.qty;
        amount += x.amount;
        tax += x.tax;
      }
      amount = Round2(amount);
      tax = Round2(tax);
      bool invoiced = r_.Chance(33);
      std::string date = Date(Day(i));
      const std::string& clerk = r_.Pick(kClerks);
      int k = 1;
      SKJK_RETURN_IF_ERROR(h->BindInt(k++, number));
      SKJK_RETURN_IF_ERROR(Text(h, k++, date));
      SKJK_RETURN_IF_ERROR(Text(h, k++, clerk));
      SKJK_RETURN_IF_ERROR(Text(h, k++, date));
      SKJK_RETURN_IF_ERROR(Text(h, k++, clerk));
      SKJK_RETURN_IF_ERROR(Text(h, k++, Date(std::min(Day(i) + 1, 365))));
      SKJK_RETURN_IF_ERROR(Text(h, k++, "财务"));
      SKJK_RETURN_IF_ERROR(Text(h, k++, c.code));
      SKJK_RETURN_IF_ERROR(Text(h, k++, "01"));
      SKJK_RETURN_IF_ERROR(Text(h, k++, ""));
      SKJK_RETURN_IF_ERROR(Text(h, k++, r_.Chance(70) ? "Z" : "P"));
      SKJK_RETURN_IF_ERROR(Text(h, k++, sales ? "PF" : "BF"));
      SKJK_RETURN_IF_ERROR(h->BindDouble(k++, rate));
      SKJK_RETURN_IF_ERROR(Text(h, k++, "2024" + date.substr(5, 2)));
      SKJK_RETURN_IF_ERROR(h->BindInt(k++, 1 + i % 500));
      SKJK_RETURN_IF_ERROR(Text(h, k++, "01"));
      SKJK_RETURN_IF_ERROR(
          Text(h, k++, c.invoice_name.empty() ? c.name : c.invoice_name));
      SKJK_RETURN_IF_ERROR(Text(h, k++, c.address));
      SKJK_RETURN_IF_ERROR(Text(h, k++, "1"));
      SKJK_RETURN_IF_ERROR(Text(h, k++, "1"));
      SKJK_RETURN_IF_ERROR(Text(h, k++, "0"));
      SKJK_RETURN_IF_ERROR(Text(h, k++, c.bank));
      SKJK_RETURN_IF_ERROR(Text(h, k++, c.account.substr(0, 30)));
      SKJK_RETURN_IF_ERROR(Text(h, k++, c.tax_number));
      SKJK_RETURN_IF_ERROR(Text(h, k++, invoiced ? "3300041140" : ""));
      SKJK_RETURN_IF_ERROR(Text(h, k++, invoiced ? InvoiceNumber() : ""));
      SKJK_RETURN_IF_ERROR(h->BindDouble(k++, qty));
      SKJK_RETURN_IF_ERROR(h->BindDouble(k++, amount));
      SKJK_RETURN_IF_ERROR(h->BindDouble(k++, tax));
      SKJK_RETURN_IF_ERROR(h->BindDouble(k++, Round2(amount + tax)));
      SKJK_RETURN_IF_ERROR(Text(h, k++, "人民币" + Money(amount + tax) + "元"));
      SKJK_RETURN_IF_ERROR(Text(h, k++, r_.Chance(10) ? "月底结算" : ""));
      if (sales) {
        SKJK_RETURN_IF_ERROR(Text(h, k++, "0001"));
        SKJK_RETURN_IF_ERROR(h->BindInt(k++, number));
      }
      SKJK_RETURN_IF_ERROR(appserver::Run(h));
      for (const Line& x : lines) {
        SKJK_RETURN_IF_ERROR(l->BindInt(1, number));
        SKJK_RETURN_IF_ERROR(Text(l, 2, x.goods->code));
        SKJK_RETURN_IF_ERROR(l->BindDouble(3, x.goods->price));
        SKJK_RETURN_IF_ERROR(l->BindDouble(4, x.qty));
        SKJK_RETURN_IF_ERROR(l->BindDouble(5, x.amount));
        SKJK_RETURN_IF_ERROR(l->BindDouble(6, x.tax));
        SKJK_RETURN_IF_ERROR(appserver::Run(l));
      }
    }
    return Status::OK();
  }

  Status VisitSales() {
    static const std::vector<std::string> kClerks = {"孙伟", "周敏", "吴军"};
    auto head = Prep(
        "INSERT INTO XSTFXPS1 (DHAO00,FPLB00,YWRQ00,YWRY00,XSQRRY,KHDM00,"
        "CKDM00,SKBJ00) VALUES (?,?,?,?,?,?,?,?)");
    if (!head.ok()) return head.status();
    auto line = Prep(
        "INSERT INTO XSTFXPS2 (DHAO00,SPDM00,DJIA00,FXSL00,SL0000,THSL00,"
        "JE0000,SE0000,RBDH00,FPBBH0,FPHAO0) VALUES (?,?,?,?,?,?,?,?,?,?,?)");
    if (!line.ok()) return line.status();
    Statement* h = *head;
    Statement* l = *line;
    for (int64_t i = 0; i < o_.documents; ++i) {
      int64_t number = 3000000 + i + 1;
      // One in ten deliveries goes to the customer window's customer.
      const Customer& c =
          r_.Chance(10)
              ? customers_[0]
              : customers_[r_.Uniform(static_cast<int>(customers_.size()))];
      bool invoiced = r_.Chance(33);
      std::string book = invoiced ? "3300041140" : "";
      std::string invoice = invoiced ? InvoiceNumber() : "";
      const std::string& clerk = r_.Pick(kClerks);
      SKJK_RETURN_IF_ERROR(h->BindInt(1, number));
      SKJK_RETURN_IF_ERROR(Text(h, 2, r_.Chance(80) ? "Z" : "P"));
      SKJK_RETURN_IF_ERROR(Text(h, 3, Date(Day(i))));
      SKJK_RETURN_IF_ERROR(Text(h, 4, clerk));
      SKJK_RETURN_IF_ERROR(Text(h, 5, clerk));
      SKJK_RETURN_IF_ERROR(Text(h, 6, c.code));
      SKJK_RETURN_IF_ERROR(Text(h, 7, "01"));
      SKJK_RETURN_IF_ERROR(Text(h, 8, "0"));
      SKJK_RETURN_IF_ERROR(appserver::Run(h));
      for (const Line& x : Lines(13, true)) {
        bool numbered = invoiced && x.qty != 0;
        SKJK_RETURN_IF_ERROR(l->BindInt(1, number));
        SKJK_RETURN_IF_ERROR(Text(l, 2, x.goods->code));
        SKJK_RETURN_IF_ERROR(l->BindDouble(3, x.goods->price));
        SKJK_RETURN_IF_ERROR(l->BindDouble(4, x.qty));
        SKJK_RETURN_IF_ERROR(l->BindDouble(5, x.qty));
        SKJK_RETURN_IF_ERROR(l->BindDouble(6, 0));
        SKJK_RETURN_IF_ERROR(l->BindDouble(7, x.amount));
        SKJK_RETURN_IF_ERROR(l->BindDouble(8, x.tax));
        SKJK_RETURN_IF_ERROR(Text(l, 9, ""));
        SKJK_RETURN_IF_ERROR(Text(l, 10, numbered ? book : ""));
        SKJK_RETURN_IF_ERROR(Text(l, 11, numbered ? invoice : ""));
        SKJK_RETURN_IF_ERROR(appserver::Run(l));
      }
    }
    return Status::OK();
  }

  DbSession* db_;
  SampleOptions o_;
  Random r_;
  std::vector<Customer> customers_;
  std::vector<Goods> goods_;
};

}  // namespace

Status GenerateSample(DbSession* db, const SampleOptions& options) {
  if (options.documents < 0 || options.documents > 10000000) {
    return Status::Error("sample size must be between 0 and 10000000");
  }
  SKJK_RETURN_IF_ERROR(db->Begin());
  Status s = Generator(db, options).Run();
  if (!s.ok()) {
    Status r = db->Rollback();
    return Status::Error("sample data: " + s.message() +
                         (r.ok() ? "" : "; rollback: " + r.message()));
  }
  return db->Commit();
}

}  // namespace skjk::appserver
