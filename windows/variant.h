// The three business lines of the plug-in and everything that differs
// between them, as data. Code that behaves differently per line looks the
// difference up here instead of branching on the line.
#ifndef SKJK_WINDOWS_VARIANT_H_
#define SKJK_WINDOWS_VARIANT_H_

#include <array>
#include <string_view>

namespace skjk {

enum class VariantKey { kBbsk, kFxsk, kJqsk };

// The four views of a window, in the order of their master sets
// ClientDataSet1, 3, 5, 7.
enum class View { kOpenSales = 0, kOpenVoid = 1, kDoneSales = 2, kDoneVoid = 3 };

struct Variant {
  VariantKey key;
  std::string_view name;          // "Bbsk": settings section, variant key
  std::string_view entry_point;   // "ShowDllBbsk"
  int ordinal;                    // export ordinal of the entry point
  std::string_view window_class;  // "TFrmBbsk"
  // Texts below are UTF-8 here; convert with text::Utf8ToGbk (or the _gbk
  // literal) where a GBK text is needed.
  std::string_view caption;       // window caption
  std::string_view dialog_title;  // settings dialog title
  std::string_view file_prefix;   // prefix of the default export file names
  // Provider of the master set of each view, indexed by View.
  std::array<std::string_view, 4> providers;
  // Nested line field of each view's master layout, indexed by View.
  std::array<std::string_view, 4> line_fields;
  // Packet size of the invoiced sales set (ClientDataSet5); 0: all at once.
  int done_sales_packet;
};

inline constexpr Variant kBbsk{
    VariantKey::kBbsk, "Bbsk", "ShowDllBbsk", 3, "TFrmBbsk",
    "本部税控机接口", "本部税控机接口参数设置", "本部税控机",
    {"dsp_bbsk1", "dsp_bbbf1", "dsp_bbsk3", "dsp_bbbf3"},
    {"qry_bbsk2", "qry_bbbf2", "qry_bbsk4", "qry_bbbf4"}, 0};

inline constexpr Variant kFxsk{
    VariantKey::kFxsk, "Fxsk", "ShowDllFxsk", 2, "TFrmFxsk",
    "税控机接口", "税控机接口参数设置", "税控机",
    {"dsp_fxsk1", "dsp_bbbf1", "dsp_fxsk3", "dsp_bbbf3"},
    {"qry_fxsk2", "qry_bbbf2", "qry_fxsk4", "qry_bbbf4"}, 10};

inline constexpr Variant kJqsk{
    VariantKey::kJqsk, "Jqsk", "ShowDllJqsk", 1, "TFrmJqsk",
    "vu税控机接口", "vu税控机接口参数设置", "vu税控机",
    {"dsp_jqsk1", "dsp_bbbf1", "dsp_jqsk3", "dsp_bbbf3"},
    {"qry_jqsk2", "qry_bbbf2", "qry_jqsk4", "qry_bbbf4"}, 10};

inline const Variant& GetVariant(VariantKey key) {
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

#endif  // SKJK_WINDOWS_VARIANT_H_
