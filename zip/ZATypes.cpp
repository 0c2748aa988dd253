#include "zip/ZATypes.h"

#include <array>

std::string_view SkipTypeName(TZASkipTypes t) {
    static constexpr std::array<std::string_view, kSkipTypeCount> kNames = {"stOnFreshen",
                                                                            "stNoOverwrite",
                                                                            "stFileExists",
                                                                            "stBadPassword",
                                                                            "stBadName",
                                                                            "stCompressionUnknown",
                                                                            "stUnknownZipHost",
                                                                            "stZipFileFormatWrong",
                                                                            "stGeneralExtractError",
                                                                            "stUser",
                                                                            "stCannotDo",
                                                                            "stNotFound",
                                                                            "stNoShare",
                                                                            "stNoAccess",
                                                                            "stNoOpen",
                                                                            "stDupName",
                                                                            "stReadError",
                                                                            "stSizeChange",
                                                                            "stNothingToDo"};
    const auto i = static_cast<std::size_t>(t);
    return i < kNames.size() ? kNames[i] : std::string_view{};
}
