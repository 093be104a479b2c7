#include "mergemod/cabinet.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <new>
#include <utility>

#include "win/files.h"
#include "win/paths.h"
#include "win/text.h"

namespace mergemod {

namespace {

const ULONG maxCabinetSize = 3000000000UL;
const USHORT setIdentifier = 12345;
const USHORT keptAttributes = 0x27; // read-only, hidden, system, archive
// Wine looks up a name that does not exist yet by reading its whole folder,
// so unpacking thousands of entries into one folder takes time that grows
// with their square: a cabinet of more than a few hundred entries is spread
// over sub-folders of some dozens each.
const unsigned entriesInOneFolder = 256;
const unsigned entriesPerFolder = 64;

template <size_t N>
bool copyField(char (&field)[N], const std::string& text)
{
    if (text.size() >= N) return false;
    memcpy(field, text.c_str(), text.size() + 1);
    return true;
}

// The callbacks run inside cabinet.dll, whose frames no C++ exception may
// unwind through: work that allocates runs here, and an exception becomes the
// failure the library expects, with the runtime's error where it asks for one.
template <typename Result, typename Work>
Result failSafe(Result failed, int* err, Work work) noexcept
{
    try {
        return work();
    } catch (...) {
        if (err) *err = ENOMEM;
        return failed;
    }
}

} // namespace

int CabinetFile::close()
{
    const int result = fd == -1 ? 0 : _close(fd);
    fd = -1;
    return result;
}

namespace {

// A file's address is its handle: never 0 (skip) nor -1 (failure) to the libraries.
INT_PTR handleOf(CabinetFile* file) { return reinterpret_cast<INT_PTR>(file); }

CabinetFile* fileOf(INT_PTR handle) { return reinterpret_cast<CabinetFile*>(handle); }

UINT readFrom(INT_PTR handle, void* into, UINT count)
{
    CabinetFile* file = fileOf(handle);
    if (!file->bytes) return static_cast<UINT>(_read(file->fd, into, count));
    const size_t size = file->bytes->size();
    const size_t available = file->position < size ? size - file->position : 0;
    const UINT taken = static_cast<UINT>(std::min<size_t>(count, available));
    if (taken) memcpy(into, file->bytes->data() + file->position, taken);
    file->position += taken;
    return taken;
}

// May throw for bytes in memory: the callers turn that into a failure.
UINT writeTo(INT_PTR handle, const void* from, UINT count)
{
    CabinetFile* file = fileOf(handle);
    if (!file->bytes) return static_cast<UINT>(_write(file->fd, from, count));
    if (count == 0) return 0;
    if (file->position + count > file->bytes->size()) file->bytes->resize(file->position + count);
    memcpy(&(*file->bytes)[file->position], from, count);
    file->position += count;
    return count;
}

long seekIn(INT_PTR handle, long distance, int origin)
{
    CabinetFile* file = fileOf(handle);
    if (!file->bytes) return _lseek(file->fd, distance, origin);
    const long long base = origin == SEEK_SET   ? 0
                           : origin == SEEK_CUR ? static_cast<long long>(file->position)
                           : origin == SEEK_END ? static_cast<long long>(file->bytes->size())
                                                : -1;
    const long long target = base + distance;
    if (base < 0 || target < 0 || target > 0x7FFFFFFFLL) return -1;
    file->position = static_cast<size_t>(target);
    return static_cast<long>(target);
}

// Closes a file FCI opened and forgets it; the C runtime's result.
int closeBuildFile(BuildFiles* files, INT_PTR handle)
{
    CabinetFile* file = fileOf(handle);
    const int result = file->close();
    files->open.erase(std::remove_if(files->open.begin(), files->open.end(),
                                     [&](const std::unique_ptr<CabinetFile>& open) { return open.get() == file; }),
                      files->open.end());
    return result;
}

} // namespace

FNFCIALLOC(cabAlloc) { return malloc(cb); }

FNFCIFREE(cabFree) { free(memory); }

FNFCIOPEN(fciOpen)
{
    auto* files = static_cast<BuildFiles*>(pv);
    return failSafe<INT_PTR>(-1, err, [&]() -> INT_PTR {
        // A temporary file is only ever made new: a file or a link that took
        // its name meanwhile fails the build instead of being written through.
        if ((oflag & _O_CREAT) &&
            std::find(files->temporaries.begin(), files->temporaries.end(), pszFile) != files->temporaries.end())
            oflag |= _O_EXCL;
        auto file = std::make_unique<CabinetFile>();
        files->open.reserve(files->open.size() + 1);
        file->fd = _open(pszFile, oflag, pmode);
        if (file->fd == -1) {
            *err = errno;
            return -1;
        }
        files->open.push_back(std::move(file));
        return handleOf(files->open.back().get());
    });
}

FNFCIREAD(fciRead)
{
    (void)pv;
    UINT result = readFrom(hf, memory, cb);
    if (result != cb) *err = errno;
    return result;
}

FNFCIWRITE(fciWrite)
{
    (void)pv;
    return failSafe<UINT>(static_cast<UINT>(-1), err, [&]() -> UINT {
        UINT result = writeTo(hf, memory, cb);
        if (result != cb) *err = errno;
        return result;
    });
}

FNFCICLOSE(fciClose)
{
    int result = closeBuildFile(static_cast<BuildFiles*>(pv), hf);
    if (result != 0) *err = errno;
    return result;
}

FNFCISEEK(fciSeek)
{
    (void)pv;
    long result = seekIn(hf, dist, seektype);
    if (result == -1) *err = errno;
    return result;
}

FNFCIDELETE(fciDelete)
{
    (void)pv;
    if (_unlink(pszFile) != 0) {
        *err = errno;
        return -1;
    }
    return 0;
}

FNFCIGETTEMPFILE(fciGetTempFile)
{
    auto* files = static_cast<BuildFiles*>(pv);
    return failSafe<BOOL>(FALSE, nullptr, [&]() -> BOOL {
        // Beside the cabinet, in the folder of the product's modules that only
        // administrators may change, never in a shared temporary folder.
        for (int tries = 0; tries < 256; ++tries) {
            char name[16];
            wsprintfA(name, "~fci%04X.tmp", files->nextName++ & 0xFFFF);
            const std::string path = files->folder + name;
            if (cbTempName <= 0 || path.size() >= static_cast<size_t>(cbTempName)) return FALSE;
            if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
            files->temporaries.push_back(path);
            memcpy(pszTempName, path.c_str(), path.size() + 1);
            return TRUE;
        }
        return FALSE;
    });
}

FNFCIGETNEXTCABINET(fciGetNextCabinet)
{
    (void)cbPrevCab;
    (void)pv;
    sprintf(pccab->szCab, "TEST%d.CAB", pccab->iCab);
    return TRUE;
}

FNFCIGETOPENINFO(fciGetOpenInfo)
{
    auto* files = static_cast<BuildFiles*>(pv);
    return failSafe<INT_PTR>(-1, err, [&]() -> INT_PTR {
        files->open.reserve(files->open.size() + 1);
        auto opened = std::make_unique<CabinetFile>();
        if (HeldEntry* entry = std::exchange(files->source, nullptr)) {
            // An entry held in memory keeps what its old cabinet said of it.
            *pdate = entry->date;
            *ptime = entry->time;
            *pattribs = static_cast<USHORT>((entry->attributes & 0xFF) & keptAttributes);
            opened->bytes = &entry->data;
            files->open.push_back(std::move(opened));
            return handleOf(files->open.back().get());
        }
        win::File file(CreateFileA(pszName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file) return -1;
        // Only the last-write time is needed: the full file information also asks
        // for the volume's, which costs more than packing a small file.
        FILETIME written;
        if (!GetFileTime(file.get(), nullptr, nullptr, &written)) return -1;
        FILETIME local;
        FileTimeToLocalFileTime(&written, &local);
        FileTimeToDosDateTime(&local, pdate, ptime);
        DWORD attributes = GetFileAttributesA(pszName);
        *pattribs = attributes == INVALID_FILE_ATTRIBUTES ? 0 : static_cast<USHORT>(attributes & keptAttributes);
        // FCI reads through the handle already open instead of a second open of the file.
        opened->fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_RDONLY | _O_BINARY);
        if (opened->fd == -1) return -1;
        file.release();
        files->open.push_back(std::move(opened));
        return handleOf(files->open.back().get());
    });
}

FNFCIFILEPLACED(fciFilePlaced)
{
    (void)pccab;
    (void)pszFile;
    (void)cbFile;
    (void)fContinuation;
    (void)pv;
    return 0;
}

FNFCISTATUS(fciStatus)
{
    (void)typeStatus;
    (void)cb1;
    (void)cb2;
    (void)pv;
    return 0;
}

FNOPEN(fdiOpen)
{
    return failSafe<INT_PTR>(-1, nullptr, [&]() -> INT_PTR {
        auto file = std::make_unique<CabinetFile>();
        file->fd = _open(pszFile, oflag, pmode);
        if (file->fd == -1) return -1;
        file->freedOnClose = true;
        return handleOf(file.release());
    });
}

FNREAD(fdiRead) { return readFrom(hf, pv, cb); }

FNWRITE(fdiWrite)
{
    return failSafe<UINT>(static_cast<UINT>(-1), nullptr, [&]() -> UINT { return writeTo(hf, pv, cb); });
}

FNCLOSE(fdiClose)
{
    CabinetFile* file = fileOf(hf);
    const int result = file->close();
    if (file->freedOnClose) delete file;
    return result;
}

FNSEEK(fdiSeek) { return seekIn(hf, dist, seektype); }

FNFDIDECRYPT(fdiDecrypt)
{
    (void)pfdid;
    return 0;
}

FNFDINOTIFY(fdiNotify)
{
    auto* context = static_cast<ExtractionContext*>(pfdin ? pfdin->pv : nullptr);
    if (!context) return 0;
    switch (fdint) {
    case fdintCABINET_INFO:
        return failSafe<INT_PTR>(-1, nullptr, [&]() -> INT_PTR {
            for (unsigned i = 0; i < context->spread; ++i)
                CreateDirectoryA((context->targetDir + "\\" + std::to_string(i)).c_str(), nullptr);
            return 0;
        });
    case fdintCOPY_FILE:
        return failSafe<INT_PTR>(-1, nullptr, [&]() -> INT_PTR {
            // Entry names come from the cabinet: only a bare name stays inside the folder.
            if (!pfdin->psz1 || !win::isPlainFileName(pfdin->psz1)) return 0;
            // What one cabinet can hold once repacked bounds what is unpacked;
            // the header's size is unsigned, whatever type FDI gives it.
            const unsigned long size = static_cast<unsigned long>(pfdin->cb);
            context->unpacked += size;
            if (context->unpacked > maxCabinetSize) return -1;
            context->output.close();
            if (context->held) {
                if (context->unpacked > context->bound) {
                    context->overBound = true;
                    return -1;
                }
                // A later entry of the same name replaces the earlier, as a file would.
                HeldEntry& entry = (*context->held)[win::upperCase(pfdin->psz1)];
                entry = HeldEntry();
                try {
                    entry.data.reserve(size);
                } catch (const std::bad_alloc&) {
                    // Less memory than the bound: as much past what the run can hold.
                    context->overBound = true;
                    return -1;
                }
                context->extracted.push_back(pfdin->psz1);
                context->holding = &entry;
                context->output.bytes = &entry.data;
                context->output.position = 0;
                return handleOf(&context->output);
            }
            std::string target = unpackedPath(context->targetDir, pfdin->psz1, context->spread);
            // Recorded before the file is opened: nothing may fail once it is.
            context->extracted.push_back(pfdin->psz1);
            const int flags = _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY | _O_SEQUENTIAL;
            int fd = _open(target.c_str(), flags, _S_IREAD | _S_IWRITE);
            if (fd == -1) {
                // A read-only leftover of an earlier run must not stop the extraction.
                if (win::clearReadOnly(target)) fd = _open(target.c_str(), flags, _S_IREAD | _S_IWRITE);
            }
            if (fd == -1) {
                context->extracted.pop_back();
                return -1;
            }
            context->output.bytes = nullptr;
            context->output.fd = fd;
            return handleOf(&context->output);
        });
    case fdintCLOSE_FILE_INFO:
        context->output.close();
        if (context->held) {
            if (!context->holding) return FALSE;
            context->holding->date = pfdin->date;
            context->holding->time = pfdin->time;
            context->holding->attributes = pfdin->attribs;
            return TRUE;
        }
        return failSafe<INT_PTR>(FALSE, nullptr, [&]() -> INT_PTR {
            // The time is set on a fresh handle after the writing one is closed:
            // Windows 9x may stamp a written file anew when it is closed.
            std::string target = unpackedPath(context->targetDir, pfdin->psz1, context->spread);
            win::File file(
                CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file) {
                FILETIME local;
                FILETIME system;
                if (DosDateTimeToFileTime(pfdin->date, pfdin->time, &local) && LocalFileTimeToFileTime(&local, &system))
                    SetFileTime(file.get(), &system, nullptr, &system);
                file.reset();
                // Writing attributes opens the file again: skipped when it has them
                // already, as a new file usually has (the archive bit alone).
                const DWORD wanted = (pfdin->attribs & 0xFF) & keptAttributes;
                const DWORD current = GetFileAttributesA(target.c_str());
                if (current != (wanted ? wanted : FILE_ATTRIBUTE_NORMAL)) SetFileAttributesA(target.c_str(), wanted);
            }
            return TRUE;
        });
    case fdintNEXT_CABINET:
        // A cabinet of this program stands alone; another is never opened.
        return -1;
    default:
        return 0;
    }
}

std::string unpackedPath(const std::string& targetDir, const std::string& name, unsigned spread)
{
    if (spread == 0) return targetDir + "\\" + name;
    // Names that differ in case only must meet in one sub-folder: ASCII
    // letters count case-folded, other characters (double-byte ones whole)
    // not at all.
    unsigned long hash = 2166136261UL;
    for (size_t i = 0; i < name.size(); ++i) {
        const BYTE c = static_cast<BYTE>(name[i]);
        if (IsDBCSLeadByte(c)) {
            ++i;
            continue;
        }
        if (c >= 0x80) continue;
        hash = ((hash ^ (c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c)) * 16777619UL) & 0xFFFFFFFFUL;
    }
    return targetDir + "\\" + std::to_string(hash % spread) + "\\" + name;
}

int setCabinetParameters(CCAB& block, const std::string& cabinetFolder, const std::string& name)
{
    memset(&block, 0, sizeof block);
    block.cb = maxCabinetSize;
    block.cbFolderThresh = maxCabinetSize;
    block.iCab = 1;
    block.iDisk = 0;
    block.setID = setIdentifier;
    block.szDisk[0] = '\0';
    return copyField(block.szCab, name) && copyField(block.szCabPath, cabinetFolder) ? 1 : 0;
}

namespace {

// Whether FDI may be given the cabinet: its header must declare what this
// program builds, exactly one cabinet holding one folder, with no reserved
// areas and no neighbours (its number in a set does not matter: builders
// start at 0 or 1), and its size must be the file's. Anything else is
// refused before FDICopy sees it: a cabinet with files but no folder makes
// the platform's FDI fault, and a spanning one makes it ask for others.
bool isSingleCabinet(HFDI fdi, const std::string& path, FDICABINETINFO& info)
{
    CabinetFile file;
    file.fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
    if (file.fd == -1) return false;
    const long size = _lseek(file.fd, 0, SEEK_END);
    _lseek(file.fd, 0, SEEK_SET);
    // FDIIsCabinet answers "no next cabinet" whatever the header says: the
    // flags (reserve, previous, next) are read here, and must all be clear.
    unsigned char header[32] = {};
    const bool noFlags = _read(file.fd, header, sizeof header) == sizeof header && header[30] == 0 && header[31] == 0;
    _lseek(file.fd, 0, SEEK_SET);
    const BOOL isCabinet = cabinetApi().fdiIsCabinet(fdi, handleOf(&file), &info);
    return noFlags && isCabinet && info.cFolders == 1 && info.cFiles >= 1 && info.cbCabinet == size;
}

// FDICopy over one cabinet; the result of FDICopy, or -1 without a decompressor.
int copyCabinet(const std::string& cabinetFolder, const std::string& name, ExtractionContext* context,
                PFNFDINOTIFY notify)
{
    const CabinetApi& api = cabinetApi();
    if (!api.complete) return -1;
    ERF error = {};
    FdiContext fdi(api.fdiCreate(cabAlloc, cabFree, fdiOpen, fdiRead, fdiWrite, fdiClose, fdiSeek, cpu80386, &error));
    if (!fdi) return -1;
    FDICABINETINFO info = {};
    if (!isSingleCabinet(fdi.get(), cabinetFolder + name, info)) return 0;
    // Entries held in memory need no sub-folders.
    if (!context->held && info.cFiles > entriesInOneFolder)
        context->spread = (info.cFiles + entriesPerFolder - 1) / entriesPerFolder;
    std::string cabinet = name;
    std::string folder = cabinetFolder;
    return api.fdiCopy(fdi.get(), &cabinet[0], &folder[0], 0, notify, fdiDecrypt, context) ? 1 : 0;
}

FNFDINOTIFY(listNotify)
{
    auto* context = static_cast<ExtractionContext*>(pfdin ? pfdin->pv : nullptr);
    if (!context || fdint != fdintCOPY_FILE || !pfdin->psz1) return 0;
    return failSafe<INT_PTR>(-1, nullptr, [&]() -> INT_PTR {
        context->extracted.push_back(pfdin->psz1);
        return 0; // skip: nothing is written
    });
}

} // namespace

int extractWholeCabinet(const std::string& cabinetFolder, const std::string& name, const std::string& targetDir,
                        std::vector<std::string>& extracted, unsigned& spread)
{
    ExtractionContext context;
    context.targetDir = targetDir;
    int result = copyCabinet(cabinetFolder, name, &context, fdiNotify);
    extracted = std::move(context.extracted);
    spread = context.spread;
    return result == 1 ? 1 : 0;
}

int holdWholeCabinet(const std::string& cabinetFolder, const std::string& name, unsigned long long bound,
                     HeldEntries& held, bool& overBound)
{
    held.clear();
    ExtractionContext context;
    context.held = &held;
    context.bound = bound;
    const int result = copyCabinet(cabinetFolder, name, &context, fdiNotify);
    overBound = context.overBound;
    if (result != 1) held.clear();
    return result == 1 ? 1 : 0;
}

int listCabinet(const std::string& cabinetPath, std::vector<std::string>& names)
{
    size_t slash = cabinetPath.find_last_of('\\');
    if (slash == std::string::npos) return 0;
    ExtractionContext context;
    int result = copyCabinet(cabinetPath.substr(0, slash + 1), cabinetPath.substr(slash + 1), &context, listNotify);
    names = std::move(context.extracted);
    return result == 1 ? 1 : 0;
}

CabinetBuilder::~CabinetBuilder()
{
    fci_.reset();
    // FCI closes and deletes its files itself, except on some failures.
    files_.open.clear();
    for (const std::string& path : files_.temporaries)
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) DeleteFileA(path.c_str());
}

int CabinetBuilder::create(const std::string& cabinetFolder, const std::string& name)
{
    const CabinetApi& api = cabinetApi();
    if (!api.complete) return 0;
    if (!setCabinetParameters(block_, cabinetFolder, name)) return 0;
    files_.folder = cabinetFolder;
    // What a build killed half-way left there.
    std::vector<std::string> leftovers;
    WIN32_FIND_DATAA entry;
    win::Find search(FindFirstFileA((cabinetFolder + "~fci*.tmp").c_str(), &entry));
    for (BOOL more = search ? TRUE : FALSE; more; more = FindNextFileA(search.get(), &entry))
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) leftovers.push_back(cabinetFolder + entry.cFileName);
    search.reset();
    for (const std::string& path : leftovers) DeleteFileA(path.c_str());
    fci_.reset(api.fciCreate(&error_, fciFilePlaced, cabAlloc, cabFree, fciOpen, fciRead, fciWrite, fciClose, fciSeek,
                             fciDelete, fciGetTempFile, &block_, &files_));
    return fci_ ? 1 : 0;
}

int CabinetBuilder::addFile(const std::string& sourcePath, const std::string& nameInCabinet)
{
    if (!fci_) return 0;
    std::string source = sourcePath;
    std::string inCabinet = nameInCabinet;
    return cabinetApi().fciAddFile(fci_.get(), &source[0], &inCabinet[0], FALSE, fciGetNextCabinet, fciStatus,
                                   fciGetOpenInfo, tcompTYPE_MSZIP)
               ? 1
               : 0;
}

int CabinetBuilder::addHeld(HeldEntry& entry, const std::string& nameInCabinet)
{
    if (!fci_) return 0;
    // FCI opens the source within the call: the open callback takes the entry from there.
    files_.source = &entry;
    std::string inCabinet = nameInCabinet;
    const BOOL added = cabinetApi().fciAddFile(fci_.get(), &inCabinet[0], &inCabinet[0], FALSE, fciGetNextCabinet,
                                               fciStatus, fciGetOpenInfo, tcompTYPE_MSZIP);
    files_.source = nullptr;
    return added ? 1 : 0;
}

int CabinetBuilder::flush()
{
    if (!fci_) return 0;
    return cabinetApi().fciFlushCabinet(fci_.get(), FALSE, fciGetNextCabinet, fciStatus) ? 1 : 0;
}

} // namespace mergemod
