#include "gl_import_redirect.h"

#include <windows.h>

#include <map>
#include <string>

#include "zelvan.h"

namespace zelvan_support {

namespace {

std::map<std::string, void*>& wrappers() {
    static std::map<std::string, void*> byName;
    return byName;
}

HMODULE openGlLibrary() { return GetModuleHandleW(L"opengl32.dll"); }

// Replaces, in the module's import address table, each entry that holds a listed function of
// opengl32.dll by that function's wrapper. Entries are matched by the address they were bound to.
void redirectModule(HMODULE module, const std::map<void*, void*>& wrapperOf) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dosHeader = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* ntHeaders = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dosHeader->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        ntHeaders->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return;
    for (auto* library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         library->Name != 0; ++library) {
        if (GetModuleHandleA(reinterpret_cast<const char*>(base + library->Name)) != openGlLibrary())
            continue;
        for (auto* entry = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
             entry->u1.Function != 0; ++entry) {
            const auto wrapper = wrapperOf.find(reinterpret_cast<void*>(entry->u1.Function));
            if (wrapper == wrapperOf.end()) continue;
            DWORD protection = 0;
            VirtualProtect(&entry->u1.Function, sizeof entry->u1.Function, PAGE_READWRITE, &protection);
            entry->u1.Function = reinterpret_cast<ULONG_PTR>(wrapper->second);
            VirtualProtect(&entry->u1.Function, sizeof entry->u1.Function, protection, &protection);
        }
    }
}

}  // namespace

bool listWrapper(const char* name, void* wrapper) {
    wrappers()[name] = wrapper;
    return true;
}

void* realGlFunction(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(openGlLibrary(), name));
}

void redirectGlImports() {
    static const bool redirected = [] {
        std::map<void*, void*> wrapperOf;
        for (const auto& [name, wrapper] : wrappers()) wrapperOf[realGlFunction(name.c_str())] = wrapper;
        const HMODULE program = GetModuleHandleW(nullptr);
        redirectModule(program, wrapperOf);
        // libzelvan.dll, for the tests that link the library rather than its objects.
        HMODULE library = nullptr;
        if (GetModuleHandleExW(
                GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                reinterpret_cast<LPCWSTR>(&ZelvanInit), &library) &&
            library != program)
            redirectModule(library, wrapperOf);
        return true;
    }();
    (void)redirected;
}

}  // namespace zelvan_support
