// The simulated registry below HKEY_LOCAL_MACHINE. See sim.h.
#include "platform/sim/machine.h"

#include <cstring>

using namespace Simulated;

namespace {

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    parts.push_back(part);
    return parts;
}

std::string KeyPath(const Key* key) {
    std::vector<const std::string*> names;
    for (; key && key->parent; key = key->parent) names.push_back(&key->name);
    std::string path;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (!path.empty()) path += '\\';
        path += **name;
    }
    return path;
}

std::shared_ptr<Key> FindKey(const std::shared_ptr<Key>& from, const std::string& subKey) {
    std::shared_ptr<Key> key = from;
    if (subKey.empty()) return key;
    for (const std::string& part : SplitPath(subKey)) {
        auto it = key->subkeys.find(Fold(part));
        if (part.empty() || it == key->subkeys.end()) return nullptr;
        key = it->second;
    }
    return key;
}

std::shared_ptr<Key> KeyOfHandle(Win::HKEY handle, const char* call) {
    if (handle == Win::HKEY_LOCAL_MACHINE) return M().root;
    auto it = M().openKeys.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == M().openKeys.end()) Unmodelled("%s on a key handle that is not open", call);
    return it->second.key;
}

std::string JoinKeyPath(const std::shared_ptr<Key>& base, const char* subKey) {
    std::string path = KeyPath(base.get());
    if (!subKey || !*subKey) return path;
    return path.empty() ? std::string(subKey) : path + "\\" + subKey;
}

void MarkDeleted(Key& key) {
    key.deleted = true;
    for (const auto& entry : key.subkeys) MarkDeleted(*entry.second);
}

void CollectKeys(const Key& key, std::vector<std::string>& out) {
    for (const auto& entry : key.subkeys) {
        out.push_back(KeyPath(entry.second.get()));
        CollectKeys(*entry.second, out);
    }
}

}  // namespace

namespace Win {

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired, HKEY* result) {
    std::shared_ptr<Key> base = KeyOfHandle(key, "RegOpenKeyExA");
    std::string path = JoinKeyPath(base, subKey);
    Log("RegOpenKeyExA", path);
    if (!result || options != 0 || samDesired != KEY_ALL_ACCESS) {
        Unmodelled("RegOpenKeyExA with options %u, access 0x%x", options, samDesired);
    }
    if (DWORD code = Injected(Sim::Op::RegOpenKeyEx, path)) return static_cast<LONG>(code);
    if (base->deleted) return static_cast<LONG>(ERROR_KEY_DELETED);
    std::shared_ptr<Key> found = FindKey(base, subKey ? subKey : "");
    if (!found) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    std::uintptr_t handle = NewHandle();
    M().openKeys[handle] = OpenKey{found};
    *result = reinterpret_cast<HKEY>(handle);
    return 0;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
    std::shared_ptr<Key> base = KeyOfHandle(key, "RegQueryValueExA");
    std::string path = KeyPath(base.get());
    Log("RegQueryValueExA", path + (valueName ? std::string(" ") + valueName : std::string()));
    if (reserved) Unmodelled("RegQueryValueExA with a reserved argument");
    if (data && !dataSize) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    if (DWORD code = Injected(Sim::Op::RegQueryValueEx, path)) return static_cast<LONG>(code);
    if (base->deleted) return static_cast<LONG>(ERROR_KEY_DELETED);
    auto it = base->values.find(Fold(valueName ? valueName : ""));
    if (it == base->values.end()) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    const Value& value = it->second;
    if (type) *type = value.type;
    DWORD size = static_cast<DWORD>(value.bytes.size());
    if (!dataSize) return 0;
    DWORD room = *dataSize;
    *dataSize = size;
    if (!data) return 0;
    if (room < size) return static_cast<LONG>(ERROR_MORE_DATA);
    std::memcpy(data, value.bytes.data(), size);
    return 0;
}

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
    std::shared_ptr<Key> base = KeyOfHandle(key, "RegDeleteKeyA");
    std::string path = JoinKeyPath(base, subKey);
    Log("RegDeleteKeyA", path);
    if (!subKey) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    if (DWORD code = Injected(Sim::Op::RegDeleteKey, path)) return static_cast<LONG>(code);
    if (base->deleted) return static_cast<LONG>(ERROR_KEY_DELETED);
    std::shared_ptr<Key> target = FindKey(base, subKey);
    if (!target) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    if (!target->parent) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    // Windows 98 and ME delete a key together with everything below it; the NT family
    // refuses to delete a key that has subkeys.
    if (M().platformId == VER_PLATFORM_WIN32_NT && !target->subkeys.empty()) {
        return static_cast<LONG>(ERROR_ACCESS_DENIED);
    }
    MarkDeleted(*target);
    M().deletedKeys.push_back(target);
    target->parent->subkeys.erase(Fold(target->name));
    return 0;
}

LONG RegCloseKey(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) Unmodelled("RegCloseKey on HKEY_LOCAL_MACHINE");
    std::shared_ptr<Key> base = KeyOfHandle(key, "RegCloseKey");
    std::string path = KeyPath(base.get());
    Log("RegCloseKey", path);
    if (DWORD code = Injected(Sim::Op::RegCloseKey, path)) return static_cast<LONG>(code);
    M().openKeys.erase(reinterpret_cast<std::uintptr_t>(key));
    return 0;
}

}  // namespace Win

namespace Sim {

void AddKey(const std::string& path) {
    std::shared_ptr<Key> key = M().root;
    for (const std::string& part : SplitPath(path)) {
        if (part.empty()) Unmodelled("AddKey with an empty key name in %s", path.c_str());
        std::shared_ptr<Key>& child = key->subkeys[Fold(part)];
        if (!child) {
            child = std::make_shared<Key>();
            child->name = part;
            child->parent = key.get();
        }
        key = child;
    }
}

void SetValue(const std::string& keyPath, const std::string& name, const std::string& bytes,
              DWORD type) {
    AddKey(keyPath);
    FindKey(M().root, keyPath)->values[Fold(name)] = Value{name, type, bytes};
}

void SetStringValue(const std::string& keyPath, const std::string& name, const std::string& text) {
    SetValue(keyPath, name, text + std::string(1, '\0'));
}

bool KeyExists(const std::string& path) { return FindKey(M().root, path) != nullptr; }

std::vector<std::string> Keys() {
    std::vector<std::string> keys;
    CollectKeys(*M().root, keys);
    return keys;
}

int OpenKeyCount() { return static_cast<int>(M().openKeys.size()); }

}  // namespace Sim
