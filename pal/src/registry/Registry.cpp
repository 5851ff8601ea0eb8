// The registry on SQLite. Keys are rows (id, parent, name, folded name, class); values are rows
// (key, name, folded name, type, data). The three roots are keys 1-3. Key ids are never reused,
// so a handle to a deleted key stays a handle to a deleted key.
// A process uses one connection, guarded by databaseLock. Every change runs in one IMMEDIATE
// transaction that also checks the key it works on, so a key deleted by another process at the
// same moment never receives a value or a sub-key; a busy timeout makes writers from other
// processes wait for each other instead of failing.
#include <windows.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

using KeyId = sqlite3_int64;

constexpr KeyId kClassesRoot = 1;
constexpr KeyId kLastRoot = 3;
constexpr size_t kMaxValueName = 16383;  // characters, as Windows allows

struct OpenKey {
    KeyId id;
    REGSAM access;
};

std::mutex databaseLock;  // guards everything below
sqlite3* database = nullptr;
std::string databasePath;
pid_t databaseOwner = 0;
// Connections inherited through fork(): the parent still uses them, so a child must neither use
// nor close them; they are kept here only so that they stay reachable.
std::vector<sqlite3*> inheritedDatabases;
std::unordered_set<OpenKey*> openKeys;

// The connection lives as long as the process; it is closed when the library goes, so that
// memory checkers see nothing of it left behind.
struct CloseAtExit {
    ~CloseAtExit() {
        std::lock_guard<std::mutex> guard(databaseLock);
        if (database != nullptr && databaseOwner == getpid()) sqlite3_close_v2(database);
        database = nullptr;
        databasePath.clear();
    }
} closeAtExit;

// Case folding as Windows does it for names; the order of folded names is the enumeration order.
std::string Fold(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
}

std::string CurrentPath() {
    if (const char* path = std::getenv("ZANTHROP_REGISTRY"); path != nullptr && *path != 0) return path;
    std::string base;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data != 0) {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "/tmp") + "/.local/share";
    }
    return base + "/zanthrop/registry.db";
}

void MakeParentDirectories(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0755);
    }
}

bool Execute(const char* sql) { return sqlite3_exec(database, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// Waits for another process's write transaction in short steps, for at most 30 s. SQLite's own
// busy timeout sleeps longer and longer (up to 100 ms a try), so a process that writes in a loop
// takes the database again and again while the others sleep: with four writers, one got no turn
// in ten seconds. Short steps give every waiter a turn soon after each commit.
int WaitWhileBusy(void*, int attempt) {
    constexpr auto kLimit = std::chrono::seconds(30);
    constexpr auto kStep = std::chrono::microseconds(200);
    thread_local std::chrono::steady_clock::time_point start;
    const auto now = std::chrono::steady_clock::now();
    if (attempt == 0) start = now;
    if (now - start >= kLimit) return 0;
    std::this_thread::sleep_for(kStep);
    return 1;
}

// The connection for the current database file: reopened when $ZANTHROP_REGISTRY changes (tests
// give each case a file of its own) and in a child process after fork().
sqlite3* Database() {
    const std::string path = CurrentPath();
    if (database != nullptr && databaseOwner != getpid()) {
        inheritedDatabases.push_back(database);
        database = nullptr;
    }
    if (database != nullptr && path == databasePath) return database;
    if (database != nullptr) sqlite3_close(database);
    database = nullptr;
    MakeParentDirectories(path);
    if (sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite3_close(database);
        database = nullptr;
        return nullptr;
    }
    sqlite3_busy_handler(database, WaitWhileBusy, nullptr);
    Execute("PRAGMA journal_mode=WAL");
    const bool ready = Execute("BEGIN IMMEDIATE") &&
                       Execute("CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY AUTOINCREMENT, "
                               "parent INTEGER NOT NULL, name TEXT NOT NULL, folded TEXT NOT NULL, "
                               "class TEXT NOT NULL DEFAULT '', UNIQUE(parent, folded))") &&
                       Execute("CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, name TEXT NOT NULL, "
                               "folded TEXT NOT NULL, type INTEGER NOT NULL, data BLOB, PRIMARY KEY(key, folded))") &&
                       Execute("INSERT OR IGNORE INTO keys(id, parent, name, folded) VALUES "
                               "(1, 0, 'HKEY_CLASSES_ROOT', 'hkey_classes_root'), "
                               "(2, 0, 'HKEY_CURRENT_USER', 'hkey_current_user'), "
                               "(3, 0, 'HKEY_LOCAL_MACHINE', 'hkey_local_machine')") &&
                       Execute("COMMIT");
    if (!ready) {
        Execute("ROLLBACK");
        sqlite3_close(database);
        database = nullptr;
        return nullptr;
    }
    databasePath = path;
    databaseOwner = getpid();
    return database;
}

// A prepared statement, finalised with its scope.
class Statement {
public:
    explicit Statement(const char* sql) { sqlite3_prepare_v2(database, sql, -1, &m_statement, nullptr); }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement& Bind(int index, KeyId value) {
        sqlite3_bind_int64(m_statement, index, value);
        return *this;
    }
    Statement& Bind(int index, const std::string& text) {
        sqlite3_bind_text(m_statement, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& BindBlob(int index, const void* data, size_t size) {
        sqlite3_bind_blob(m_statement, index, data != nullptr ? data : "", static_cast<int>(size), SQLITE_TRANSIENT);
        return *this;
    }
    bool Row() { return sqlite3_step(m_statement) == SQLITE_ROW; }
    bool Done() { return sqlite3_step(m_statement) == SQLITE_DONE; }
    KeyId Int(int column) { return sqlite3_column_int64(m_statement, column); }
    std::string Text(int column) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
        return text != nullptr ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(m_statement, column))) : "";
    }
    std::vector<BYTE> Blob(int column) {
        const auto* data = static_cast<const BYTE*>(sqlite3_column_blob(m_statement, column));
        return std::vector<BYTE>(data, data + sqlite3_column_bytes(m_statement, column));
    }

private:
    sqlite3_stmt* m_statement = nullptr;
};

// A write transaction that rolls back unless committed.
class Transaction {
public:
    Transaction() { m_open = Execute("BEGIN IMMEDIATE"); }
    ~Transaction() {
        if (m_open) Execute("ROLLBACK");
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool Began() const { return m_open; }
    LONG Commit() {
        m_open = false;
        return Execute("COMMIT") ? ERROR_SUCCESS : ERROR_BADDB;
    }

private:
    bool m_open = false;
};

bool IsRoot(HKEY handle) {
    const auto value = reinterpret_cast<ULONG_PTR>(handle);
    return value >= reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT) && value <= reinterpret_cast<ULONG_PTR>(HKEY_LOCAL_MACHINE);
}

bool KeyExists(KeyId id) { return Statement("SELECT 1 FROM keys WHERE id = ?").Bind(1, id).Row(); }

// The key an HKEY stands for, with its access; ERROR_INVALID_HANDLE or ERROR_KEY_DELETED.
LONG Lookup(HKEY handle, OpenKey& key) {
    if (IsRoot(handle)) {
        key = OpenKey{static_cast<KeyId>(reinterpret_cast<ULONG_PTR>(handle) - reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT)) +
                          kClassesRoot,
                      KEY_ALL_ACCESS};
        return ERROR_SUCCESS;
    }
    auto* open = reinterpret_cast<OpenKey*>(handle);
    if (openKeys.count(open) == 0) return ERROR_INVALID_HANDLE;
    key = *open;
    return KeyExists(key.id) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// A sub-key path is relative: a leading backslash is refused, as Windows does (which lets
// HKEY_CLASSES_ROOT paths begin with one when a key is opened). Empty parts between or after
// backslashes are skipped.
LONG SplitPath(const char* path, std::vector<std::string>& parts) {
    if (path != nullptr && *path == '\\') return ERROR_BAD_PATHNAME;
    std::string part;
    for (const char* p = path != nullptr ? path : "";; ++p) {
        if (*p == '\\' || *p == 0) {
            if (!part.empty()) parts.push_back(part);
            part.clear();
            if (*p == 0) break;
        } else {
            part.push_back(*p);
        }
    }
    return ERROR_SUCCESS;
}

KeyId Child(KeyId parent, const std::string& name) {
    Statement find("SELECT id FROM keys WHERE parent = ? AND folded = ?");
    find.Bind(1, parent).Bind(2, Fold(name));
    return find.Row() ? find.Int(0) : -1;
}

// The key below from that path names: ERROR_FILE_NOT_FOUND when one of its keys is missing.
LONG Resolve(KeyId from, const char* path, KeyId& id) {
    std::vector<std::string> parts;
    if (LONG error = SplitPath(path, parts)) return error;
    id = from;
    for (const std::string& part : parts) {
        id = Child(id, part);
        if (id < 0) return ERROR_FILE_NOT_FOUND;
    }
    return ERROR_SUCCESS;
}

HKEY NewHandle(KeyId id, REGSAM access) {
    auto* open = new OpenKey{id, access};
    openKeys.insert(open);
    return reinterpret_cast<HKEY>(open);
}

// Copies text into a caller's buffer of *capacity characters (NUL included); *capacity becomes
// the length. ERROR_MORE_DATA, with nothing written, when it does not fit.
LONG CopyName(const std::string& text, LPSTR buffer, LPDWORD capacity) {
    if (buffer == nullptr || capacity == nullptr) return ERROR_INVALID_PARAMETER;
    if (text.size() >= *capacity) return ERROR_MORE_DATA;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *capacity = static_cast<DWORD>(text.size());
    return ERROR_SUCCESS;
}

// Copies value data into a caller's buffer of *size bytes; *size becomes the data's size, also
// when it does not fit (ERROR_MORE_DATA, nothing written) and when there is no buffer.
LONG CopyData(const std::vector<BYTE>& data, LPBYTE buffer, LPDWORD size) {
    if (size == nullptr) return buffer != nullptr ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    const DWORD needed = static_cast<DWORD>(data.size());
    const bool fits = buffer == nullptr || *size >= needed;
    if (buffer != nullptr && fits && needed != 0) std::memcpy(buffer, data.data(), needed);
    *size = needed;
    return fits ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

// Deletes the values and all sub-keys of a key, and the key itself unless keepKey.
LONG DeleteTree(KeyId id, bool keepKey) {
    static const char kSubtree[] =
        "WITH RECURSIVE subtree(id) AS (SELECT ? UNION ALL SELECT keys.id FROM keys JOIN subtree ON keys.parent = subtree.id) ";
    const std::string values = std::string(kSubtree) + "DELETE FROM vals WHERE key IN subtree";
    const std::string keys = std::string(kSubtree) + "DELETE FROM keys WHERE id IN subtree AND id <> ?";
    if (!Statement(values.c_str()).Bind(1, id).Done() ||
        !Statement(keys.c_str()).Bind(1, id).Bind(2, keepKey ? id : KeyId{0}).Done()) {
        return ERROR_BADDB;
    }
    return ERROR_SUCCESS;
}

}  // namespace

#define REGISTRY_ENTER()                             \
    std::lock_guard<std::mutex> guard(databaseLock); \
    if (Database() == nullptr) return ERROR_BADDB

#define REGISTRY_WRITE()                                        \
    Transaction transaction;                                    \
    if (!transaction.Began()) return ERROR_BADDB

extern "C" LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (hKey == HKEY_CLASSES_ROOT && lpSubKey != nullptr && *lpSubKey == '\\') ++lpSubKey;
    // A root opened by an empty path is the root's own handle.
    if (IsRoot(hKey) && (lpSubKey == nullptr || *lpSubKey == 0)) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    REGISTRY_ENTER();
    OpenKey from{};
    if (LONG error = Lookup(hKey, from)) return error;
    KeyId id = 0;
    if (LONG error = Resolve(from.id, lpSubKey, id)) return error;
    *phkResult = NewHandle(id, samDesired);
    return ERROR_SUCCESS;
}

// A key that exists already keeps its class.
extern "C" LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR lpClass, DWORD, REGSAM samDesired,
                                LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::vector<std::string> parts;
    if (LONG error = SplitPath(lpSubKey, parts)) return error;
    REGISTRY_ENTER();
    REGISTRY_WRITE();
    OpenKey from{};
    if (LONG error = Lookup(hKey, from)) return error;
    KeyId id = from.id;
    bool created = false;
    for (const std::string& part : parts) {
        KeyId child = Child(id, part);
        if (child < 0) {
            Statement insert("INSERT INTO keys(parent, name, folded, class) VALUES (?, ?, ?, ?)");
            insert.Bind(1, id).Bind(2, part).Bind(3, Fold(part)).Bind(4, std::string(lpClass != nullptr ? lpClass : ""));
            if (!insert.Done()) return ERROR_BADDB;
            child = sqlite3_last_insert_rowid(database);
            created = true;
        }
        id = child;
    }
    if (LONG error = transaction.Commit()) return error;
    if (lpdwDisposition != nullptr) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *phkResult = NewHandle(id, samDesired);
    return ERROR_SUCCESS;
}

// The type is REG_NONE whenever there is no value to report.
extern "C" LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
    if (lpType != nullptr) *lpType = REG_NONE;
    REGISTRY_ENTER();
    OpenKey key{};
    if (LONG error = Lookup(hKey, key)) return error;
    if ((key.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
    Statement find("SELECT type, data FROM vals WHERE key = ? AND folded = ?");
    if (!find.Bind(1, key.id).Bind(2, Fold(lpValueName != nullptr ? lpValueName : "")).Row()) return ERROR_FILE_NOT_FOUND;
    if (lpType != nullptr) *lpType = static_cast<DWORD>(find.Int(0));
    return CopyData(find.Blob(1), lpData, lpcbData);
}

extern "C" LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    const std::string name = lpValueName != nullptr ? lpValueName : "";
    if (name.size() > kMaxValueName) return ERROR_INVALID_PARAMETER;
    if (lpData == nullptr && cbData != 0) return ERROR_NOACCESS;
    REGISTRY_ENTER();
    REGISTRY_WRITE();
    OpenKey key{};
    if (LONG error = Lookup(hKey, key)) return error;
    if ((key.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    // A value written again keeps the spelling of its name.
    Statement upsert(
        "INSERT INTO vals(key, name, folded, type, data) VALUES (?, ?, ?, ?, ?) "
        "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
    upsert.Bind(1, key.id).Bind(2, name).Bind(3, Fold(name)).Bind(4, static_cast<KeyId>(dwType)).BindBlob(5, lpData, cbData);
    if (!upsert.Done()) return ERROR_BADDB;
    return transaction.Commit();
}

// Lengths are in characters without the NUL, data sizes in bytes; like Windows, the longest
// data counts a string value at the size it has as UTF-16.
extern "C" LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD, LPDWORD lpcSubKeys,
                                 LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                 LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                 PFILETIME lpftLastWriteTime) {
    if (lpClass != nullptr && lpcchClass == nullptr) return ERROR_INVALID_PARAMETER;
    REGISTRY_ENTER();
    OpenKey key{};
    if (LONG error = Lookup(hKey, key)) return error;
    Statement subKeys(
        "SELECT COUNT(*), IFNULL(MAX(LENGTH(CAST(name AS BLOB))), 0), IFNULL(MAX(LENGTH(CAST(class AS BLOB))), 0) "
        "FROM keys WHERE parent = ?");
    subKeys.Bind(1, key.id).Row();
    Statement values(
        "SELECT COUNT(*), IFNULL(MAX(LENGTH(CAST(name AS BLOB))), 0), "
        "IFNULL(MAX(LENGTH(data) * (CASE WHEN type IN (1, 2, 7) THEN 2 ELSE 1 END)), 0) FROM vals WHERE key = ?");
    values.Bind(1, key.id).Row();
    Statement own("SELECT class FROM keys WHERE id = ?");
    own.Bind(1, key.id).Row();
    if (lpcSubKeys != nullptr) *lpcSubKeys = static_cast<DWORD>(subKeys.Int(0));
    if (lpcbMaxSubKeyLen != nullptr) *lpcbMaxSubKeyLen = static_cast<DWORD>(subKeys.Int(1));
    if (lpcbMaxClassLen != nullptr) *lpcbMaxClassLen = static_cast<DWORD>(subKeys.Int(2));
    if (lpcValues != nullptr) *lpcValues = static_cast<DWORD>(values.Int(0));
    if (lpcbMaxValueNameLen != nullptr) *lpcbMaxValueNameLen = static_cast<DWORD>(values.Int(1));
    if (lpcbMaxValueLen != nullptr) *lpcbMaxValueLen = static_cast<DWORD>(values.Int(2));
    if (lpcbSecurityDescriptor != nullptr) *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{0, 0};
    if (lpClass != nullptr) return CopyName(own.Text(0), lpClass, lpcchClass);
    if (lpcchClass != nullptr) *lpcchClass = static_cast<DWORD>(own.Text(0).size());
    return ERROR_SUCCESS;
}

extern "C" LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD, LPSTR lpClass,
                              LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    REGISTRY_ENTER();
    OpenKey key{};
    if (LONG error = Lookup(hKey, key)) return error;
    if ((key.access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
    Statement find("SELECT name, class FROM keys WHERE parent = ? ORDER BY folded LIMIT 1 OFFSET ?");
    if (!find.Bind(1, key.id).Bind(2, static_cast<KeyId>(dwIndex)).Row()) return ERROR_NO_MORE_ITEMS;
    if (LONG error = CopyName(find.Text(0), lpName, lpcchName)) return error;
    if (lpClass != nullptr) {
        if (LONG error = CopyName(find.Text(1), lpClass, lpcchClass)) return error;
    }
    if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

// Type and data size are reported first; a name or data that does not fit gives ERROR_MORE_DATA.
extern "C" LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                              LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    REGISTRY_ENTER();
    OpenKey key{};
    if (LONG error = Lookup(hKey, key)) return error;
    if ((key.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
    Statement find("SELECT name, type, data FROM vals WHERE key = ? ORDER BY folded LIMIT 1 OFFSET ?");
    if (!find.Bind(1, key.id).Bind(2, static_cast<KeyId>(dwIndex)).Row()) return ERROR_NO_MORE_ITEMS;
    if (lpType != nullptr) *lpType = static_cast<DWORD>(find.Int(1));
    const std::vector<BYTE> data = find.Blob(2);
    if (lpData != nullptr && lpcbData != nullptr && *lpcbData < data.size()) {
        *lpcbData = static_cast<DWORD>(data.size());
        return ERROR_MORE_DATA;
    }
    if (LONG error = CopyName(find.Text(0), lpValueName, lpcchValueName)) return error;
    return CopyData(data, lpData, lpcbData);
}

extern "C" LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    REGISTRY_ENTER();
    REGISTRY_WRITE();
    OpenKey key{};
    if (LONG error = Lookup(hKey, key)) return error;
    if ((key.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    Statement remove("DELETE FROM vals WHERE key = ? AND folded = ?");
    if (!remove.Bind(1, key.id).Bind(2, Fold(lpValueName != nullptr ? lpValueName : "")).Done()) return ERROR_BADDB;
    if (sqlite3_changes(database) == 0) return ERROR_FILE_NOT_FOUND;
    return transaction.Commit();
}

// Deletes a key without sub-keys (ERROR_ACCESS_DENIED for one with sub-keys and for a root, as
// Windows does); an empty path names hKey itself.
extern "C" LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
    REGISTRY_ENTER();
    REGISTRY_WRITE();
    OpenKey from{};
    if (LONG error = Lookup(hKey, from)) return error;
    KeyId id = 0;
    if (LONG error = Resolve(from.id, lpSubKey, id)) return error;
    if (id <= kLastRoot) return ERROR_ACCESS_DENIED;
    if (Statement("SELECT 1 FROM keys WHERE parent = ?").Bind(1, id).Row()) return ERROR_ACCESS_DENIED;
    if (LONG error = DeleteTree(id, false)) return error;
    return transaction.Commit();
}

// Deletes a key with everything below it, in one transaction. An empty path empties hKey (its
// values and sub-keys go, the key stays); a root is never emptied.
extern "C" DWORD SHDeleteKeyA(HKEY hKey, LPCSTR pszSubKey) {
    if (hKey == HKEY_CLASSES_ROOT && pszSubKey != nullptr && *pszSubKey == '\\') ++pszSubKey;
    REGISTRY_ENTER();
    REGISTRY_WRITE();
    OpenKey from{};
    if (LONG error = Lookup(hKey, from)) return static_cast<DWORD>(error);
    KeyId id = 0;
    if (LONG error = Resolve(from.id, pszSubKey, id)) return static_cast<DWORD>(error);
    if (id <= kLastRoot) return ERROR_ACCESS_DENIED;
    const bool emptyPath = pszSubKey == nullptr || *pszSubKey == 0;
    if (LONG error = DeleteTree(id, emptyPath)) return static_cast<DWORD>(error);
    return static_cast<DWORD>(transaction.Commit());
}

extern "C" LONG RegCloseKey(HKEY hKey) {
    if (IsRoot(hKey)) return ERROR_SUCCESS;
    std::lock_guard<std::mutex> guard(databaseLock);
    auto* open = reinterpret_cast<OpenKey*>(hKey);
    if (openKeys.erase(open) == 0) return ERROR_INVALID_HANDLE;
    delete open;
    return ERROR_SUCCESS;
}
