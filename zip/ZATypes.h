// Option sets and enumerations shared by the zip component, its work
// objects and the application. Set members are declared in bit order: the
// ordinal of a member is its bit in the stored set.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <type_traits>

// A Pascal-like "set of E": one bit per enumeration member, stored in `Bits`.
template <typename E, typename Bits>
class TZASet {
    static_assert(std::is_enum_v<E>);
    static_assert(std::is_unsigned_v<Bits>);

public:
    constexpr TZASet() = default;
    constexpr TZASet(std::initializer_list<E> members) {
        for (E m : members)
            bits_ |= bitOf(m);
    }
    static constexpr TZASet FromBits(Bits raw) {
        TZASet s;
        s.bits_ = raw;
        return s;
    }

    constexpr Bits bits() const { return bits_; }
    constexpr bool contains(E m) const { return (bits_ & bitOf(m)) != 0; }
    constexpr bool empty() const { return bits_ == 0; }

    constexpr TZASet& include(E m) {
        bits_ |= bitOf(m);
        return *this;
    }
    constexpr TZASet& exclude(E m) {
        bits_ &= static_cast<Bits>(~bitOf(m));
        return *this;
    }

    constexpr TZASet& operator+=(TZASet o) {
        bits_ |= o.bits_;
        return *this;
    }
    constexpr TZASet& operator-=(TZASet o) {
        bits_ &= static_cast<Bits>(~o.bits_);
        return *this;
    }
    constexpr TZASet& operator*=(TZASet o) {
        bits_ &= o.bits_;
        return *this;
    }
    friend constexpr TZASet operator+(TZASet a, TZASet b) { return a += b; }
    friend constexpr TZASet operator-(TZASet a, TZASet b) { return a -= b; }
    friend constexpr TZASet operator*(TZASet a, TZASet b) { return a *= b; }
    friend constexpr TZASet operator+(TZASet a, E m) { return a.include(m); }
    friend constexpr TZASet operator-(TZASet a, E m) { return a.exclude(m); }
    friend constexpr bool operator==(TZASet a, TZASet b) = default;

private:
    static constexpr Bits bitOf(E m) {
        return static_cast<Bits>(Bits{1} << static_cast<unsigned>(m));
    }
    Bits bits_ = 0;
};

// --- Option sets -----------------------------------------------------------

enum TZAAddOptsEnum : std::uint8_t {
    AddDirNames,
    AddRecurseDirs,
    AddMove,
    AddFreshen,
    AddUpdate,
    AddHiddenFiles,
    AddArchiveOnly,
    AddResetArchive,
    AddEncrypt,
    AddEmptyDirs,
    AddVolume,
    AddFromDate,
    AddVersion,
    AddNTFS,
    AddFollowLinks  // symbolic links are followed; otherwise they are stored as links
};
using TZAAddOpts = TZASet<TZAAddOptsEnum, std::uint16_t>;

enum TZAExtrOptsEnum : std::uint8_t {
    ExtrDirNames,
    ExtrOverWrite,
    ExtrFreshen,
    ExtrUpdate,
    ExtrTest,
    ExtrForceDirs,
    ExtrNTFS
};
using TZAExtrOpts = TZASet<TZAExtrOptsEnum, std::uint8_t>;

enum TZAWriteOptsEnum : std::uint8_t { zwoDiskSpan, zwoZipTime, zwoForceDest, zwoSafe };
using TZAWriteOpts = TZASet<TZAWriteOptsEnum, std::uint8_t>;

enum TZASpanOptsEnum : std::uint8_t {
    spNoVolumeName,
    spCompatName,
    spWipeFiles,
    spTryFormat,
    spAnyTime,
    spExactName
};
using TZASpanOpts = TZASet<TZASpanOptsEnum, std::uint8_t>;

enum TZASkipTypes : std::uint8_t {
    stOnFreshen,
    stNoOverwrite,
    stFileExists,
    stBadPassword,
    stBadName,
    stCompressionUnknown,
    stUnknownZipHost,
    stZipFileFormatWrong,
    stGeneralExtractError,
    stUser,
    stCannotDo,
    stNotFound,
    stNoShare,
    stNoAccess,
    stNoOpen,
    stDupName,
    stReadError,
    stSizeChange,
    stNothingToDo
};
using TZASkipAborts = TZASet<TZASkipTypes, std::uint32_t>;
inline constexpr int kSkipTypeCount = stNothingToDo + 1;
// The member's name as written in skip lists ("stNotFound"); "" outside the range.
std::string_view SkipTypeName(TZASkipTypes t);

enum TZAAddStoreSuffixEnum : std::uint8_t {
    assGIF,
    assPNG,
    assZ,
    assZIP,
    assZOO,
    assARC,
    assLZH,
    assARJ,
    assTAZ,
    assTGZ,
    assLHA,
    assRAR,
    assACE,
    assCAB,
    assGZ,
    assGZIP,
    assJAR,
    assEXE,
    assEXT,
    assJPG,
    assJPEG,
    ass7Zp,
    assMP3,
    assWMV,
    assWMA,
    assDVR,
    assAVI
};
using TZAAddStoreExts = TZASet<TZAAddStoreSuffixEnum, std::uint32_t>;
// Every suffix but assEXE and assEXT: the component's default.
inline constexpr TZAAddStoreExts kDefaultAddStoreSuffixes =
    TZAAddStoreExts::FromBits((1u << (assAVI + 1)) - 1) - TZAAddStoreExts{assEXE, assEXT};

// Self-extractor options. Bits 0-9 go into the stub's configuration flags as
// they are; the last two are moved to their own flag bits when written.
enum TZASFXOpt : std::uint8_t {
    soAskCmdLine,
    soAskFiles,
    soHideOverWriteBox,
    soAutoRun,
    soNoSuccessMsg,
    soExpandVariables,
    soInitiallyHideFiles,
    soForceHideFiles,
    soCheckAutoRunFileName,
    soCanBeCancelled,
    soCreateEmptyDirs,
    soSuccessAlways
};
using TZASFXOpts = TZASet<TZASFXOpt, std::uint16_t>;

// Status bits of a disk checked while writing a multi-part archive.
enum TZAZipDiskStatusEnum : std::uint8_t {
    zdsEmpty,
    zdsHasFiles,
    zdsPreviousDisk,
    zdsSameFileName,
    zdsNotEnoughSpace
};
using TZAZipDiskStatus = TZASet<TZAZipDiskStatusEnum, std::uint8_t>;

// The answer of an OnStatusDisk handler.
enum TZADiskAction : std::uint8_t { zdaOk, zdaErase, zdaReject, zdaCancel, zdaYesToAll };

// --- Enumerations ------------------------------------------------------------

enum TZAEncodingOpts : std::uint8_t { zeoAuto, zeoNone, zeoOEM, zeoUTF8, zeoUPath };
enum TZADeleteOpts : std::uint8_t { htdFinal, htdAllowUndo };
enum TZAOvrOpts : std::uint8_t { ovrAlways, ovrNever, ovrConfirm };
enum TZANameFixes : std::uint8_t { znfFatal, znfSkip, znfAuto, znfFixed };
enum TZAStreamOp : std::uint8_t { zsoIdentify, zsoOpen, zsoClose };

enum TZAProgressKind : std::uint8_t {
    pkNewItem,
    pkItemProgress,
    pkEndOfItem,
    pkEndOfBatch,
    pkTotalCount,
    pkTotalSize,
    pkNewExtra,
    pkExtraProgress
};

// States of the component; zsBusy and zsReentry are the busy states.
enum TZAStates : std::uint8_t { zsDisabled, zsIdle, zsReentered, zsBusy, zsReentry };
inline constexpr bool IsBusyState(TZAStates s) {
    return s == zsBusy || s == zsReentry;
}

// What an OnStream handler reports about a stream it identifies.
struct TZASStats {
    std::int64_t Size = 0;
    std::uint32_t Date = 0;  // DOS date-time
    std::int32_t Attrs = 0;
};
