#include "app/Texts.h"

#include <map>

namespace kestrel {

const std::map<std::string, std::string>& TextTable() {
    static const std::map<std::string, std::string> t = {
        {"Please select target device", "請選擇您要更新的SSD"},
        {"it will be updated from", "SDD韌體將被更新 , 從"},
        {"To", "到"},
        {"Message", "狀態訊息"},
        {"Update", "更新"},
        {"Close", "關閉"},
        {"It will be updated from", "裝置的韌體將被更新 , 從"},
        {"This drive is not allowed to be updated.", "您所選擇這台裝置並不允許被更新韌體 !"},
        {"No F/W in executable !", "執行檔並無韌體檔案存在 !"},
        {"Device object initialize failed !", "初始化裝置物件失敗 !"},
        {"Access denied ! You must have administrator privilege to flash SSD.", "存取遭拒 ! 您必須具有管理者權限才能更新SSD韌體"},
        {"Error ...", "錯誤 ..."},
        {"No matched drives detected !\n", "找不到符合條件的SSD !\n"},
        {"This flash utility only supports ", "這個韌體更新程式只能適用於 "},
        {" SSD.\n\n", " 這個型號的SSD.\n\n"},
        {"NOTICE : \n\n", "注意 : \n\n"},
        {"1> Please close all applications before running this utility !\n", "1> 在執行這個韌體更新程式之前請先關閉所有的應用程式 !\n"},
        {"2> Don't turn off the system while flash is in progress. \n", "2> 在韌體更新過程當中請勿關閉電源 ! \n"},
        {"3> Don't remove the adapter and battery during F/W reflash processing. \n", "3> 在韌體更新過程當中請勿拔除電源插頭以及電池 ! \n"},
        {"\nDo you wish to continue ?", "\n您確定要繼續嗎 ?"},
    };
    return t;
}

std::string LocalText(const std::string& english, bool chinese) {
    if (!chinese) return english;
    const auto it = TextTable().find(english);
    return it == TextTable().end() ? english : it->second;
}

}  // namespace kestrel
