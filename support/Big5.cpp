// Big5 codes of the Traditional Chinese characters the program's texts use.
#include "support/Big5.h"

#include <algorithm>
#include <array>
#include <utility>

namespace kestrel {
namespace {

// (code point, Big5 code), sorted by code point.
constexpr std::array<std::pair<uint32_t, uint16_t>, 96> kTable{{
    {0x4E0D, 0xA4A3},  // 不
    {0x4E26, 0xA8C3},  // 並
    {0x4E2D, 0xA4A4},  // 中
    {0x4E4B, 0xA4A7},  // 之
    {0x4EE5, 0xA548},  // 以
    {0x4EF6, 0xA5F3},  // 件
    {0x500B, 0xADD3},  // 個
    {0x5141, 0xA4B9},  // 允
    {0x5148, 0xA5FD},  // 先
    {0x5177, 0xA8E3},  // 具
    {0x521D, 0xAAEC},  // 初
    {0x5230, 0xA8EC},  // 到
    {0x524D, 0xAB65},  // 前
    {0x52FF, 0xA4C5},  // 勿
    {0x5316, 0xA4C6},  // 化
    {0x53CA, 0xA4CE},  // 及
    {0x53D6, 0xA8FA},  // 取
    {0x53EA, 0xA575},  // 只
    {0x53F0, 0xA578},  // 台
    {0x5408, 0xA658},  // 合
    {0x55CE, 0xB6DC},  // 嗎
    {0x5728, 0xA662},  // 在
    {0x578B, 0xABAC},  // 型
    {0x57F7, 0xB0F5},  // 執
    {0x5931, 0xA5A2},  // 失
    {0x59CB, 0xA96C},  // 始
    {0x5B58, 0xA673},  // 存
    {0x5B9A, 0xA977},  // 定
    {0x5C07, 0xB14E},  // 將
    {0x5F0F, 0xA6A1},  // 式
    {0x5F9E, 0xB171},  // 從
    {0x5FC5, 0xA5B2},  // 必
    {0x606F, 0xAEA7},  // 息
    {0x60A8, 0xB17A},  // 您
    {0x610F, 0xB74E},  // 意
    {0x614B, 0xBA41},  // 態
    {0x61C9, 0xC0B3},  // 應
    {0x6240, 0xA9D2},  // 所
    {0x624D, 0xA47E},  // 才
    {0x627E, 0xA7E4},  // 找
    {0x62D2, 0xA9DA},  // 拒
    {0x62D4, 0xA9DE},  // 拔
    {0x63D2, 0xB4A1},  // 插
    {0x64C7, 0xBEDC},  // 擇
    {0x6557, 0xB1D1},  // 敗
    {0x65B0, 0xB773},  // 新
    {0x65BC, 0xA9F3},  // 於
    {0x66F4, 0xA7F3},  // 更
    {0x6709, 0xA6B3},  // 有
    {0x6848, 0xAED7},  // 案
    {0x689D, 0xB1F8},  // 條
    {0x6A94, 0xC0C9},  // 檔
    {0x6B0A, 0xC576},  // 權
    {0x6C60, 0xA6C0},  // 池
    {0x6CE8, 0xAA60},  // 注
    {0x6E90, 0xB7BD},  // 源
    {0x7121, 0xB54C},  // 無
    {0x7269, 0xAAAB},  // 物
    {0x72C0, 0xAAAC},  // 狀
    {0x7406, 0xB27A},  // 理
    {0x7528, 0xA5CE},  // 用
    {0x7576, 0xB7ED},  // 當
    {0x7684, 0xAABA},  // 的
    {0x78BA, 0xBD54},  // 確
    {0x7A0B, 0xB57B},  // 程
    {0x7B26, 0xB2C5},  // 符
    {0x7BA1, 0xBADE},  // 管
    {0x7E7C, 0xC47E},  // 繼
    {0x7E8C, 0xC4F2},  // 續
    {0x7F6E, 0xB86D},  // 置
    {0x8005, 0xAACC},  // 者
    {0x80FD, 0xAFE0},  // 能
    {0x865F, 0xB8B9},  // 號
    {0x884C, 0xA6E6},  // 行
    {0x88AB, 0xB351},  // 被
    {0x88DD, 0xB8CB},  // 裝
    {0x8981, 0xAD6E},  // 要
    {0x8A0A, 0xB054},  // 訊
    {0x8A31, 0xB35C},  // 許
    {0x8AA4, 0xBB7E},  // 誤
    {0x8ACB, 0xBDD0},  // 請
    {0x9019, 0xB36F},  // 這
    {0x904E, 0xB94C},  // 過
    {0x9069, 0xBE41},  // 適
    {0x906D, 0xBE44},  // 遭
    {0x9078, 0xBFEF},  // 選
    {0x932F, 0xBFF9},  // 錯
    {0x9589, 0xB3AC},  // 閉
    {0x95DC, 0xC3F6},  // 關
    {0x9650, 0xADAD},  // 限
    {0x9664, 0xB0A3},  // 除
    {0x96FB, 0xB971},  // 電
    {0x97CC, 0xB6B4},  // 韌
    {0x9808, 0xB6B7},  // 須
    {0x982D, 0xC059},  // 頭
    {0x9AD4, 0xC5E9},  // 體
}};

}  // namespace

std::optional<uint16_t> Big5Code(uint32_t codePoint) {
    const auto it = std::lower_bound(kTable.begin(), kTable.end(), codePoint,
                                     [](const std::pair<uint32_t, uint16_t>& e, uint32_t cp) { return e.first < cp; });
    if (it == kTable.end() || it->first != codePoint) return std::nullopt;
    return it->second;
}

std::string ToBig5(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        // A three-byte UTF-8 sequence of a character in the table becomes its two Big5 bytes;
        // every other byte (ASCII, 8-bit text from a drive) is kept as it is.
        if ((c & 0xF0) == 0xE0 && i + 2 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80 &&
            (static_cast<unsigned char>(text[i + 2]) & 0xC0) == 0x80) {
            const uint32_t cp = (static_cast<uint32_t>(c & 0x0F) << 12) |
                                (static_cast<uint32_t>(static_cast<unsigned char>(text[i + 1]) & 0x3F) << 6) |
                                static_cast<uint32_t>(static_cast<unsigned char>(text[i + 2]) & 0x3F);
            if (const auto code = Big5Code(cp)) {
                out += static_cast<char>(*code >> 8);
                out += static_cast<char>(*code & 0xFF);
                i += 3;
                continue;
            }
        }
        out += text[i];
        ++i;
    }
    return out;
}

}  // namespace kestrel
