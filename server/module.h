// The one module object: the class table, the library-wide lock count, the two locks that
// guard lazy creation, and the clean-up functions run when the library may unload.
#pragma once
#include <windows.h>
#include <unknwn.h>

namespace kestrune {

// Clean-up arguments are pointer-sized, so a clean-up can be handed an object's address.
using TermFunctionProc = void (*)(DWORD_PTR argument);

struct TermFunction {
    TermFunctionProc function;
    DWORD_PTR argument;
    TermFunction* next;
};

using CreateInstanceProc = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);
using CreateClassObjectProc = HRESULT (*)(CreateInstanceProc creator, REFIID riid, void** ppv);
using UpdateRegistryProc = HRESULT (*)(BOOL doRegister);

struct ClassEntry {
    const CLSID* clsid; // null ends the table
    UpdateRegistryProc updateRegistry;
    CreateClassObjectProc createClassObject;
    CreateInstanceProc createInstance;
    IUnknown* classObject; // owned by the table, one reference
};

struct ServerModule {
    HINSTANCE instance;
    ClassEntry* classTable;
    LONG lockCount;
    CRITICAL_SECTION typeInfoLock;
    CRITICAL_SECTION classTableLock;
    TermFunction* cleanupList;

    void Initialize(HINSTANCE moduleInstance, ClassEntry* table);
    // At FreeLibrary, from DllMain: releases the class objects; calls nothing outside the library
    // but the critical-section functions.
    void Shutdown();
    // Runs the clean-up functions (newest first) and forgets them.
    void RunCleanups();
    LONG Lock();
    LONG Unlock();
    HRESULT AddCleanup(TermFunctionProc function, DWORD_PTR argument);
};

ServerModule& Module();

// The library's class table: HardLink, ReparsePoint, OperationHook, PropNTFS, end row.
ClassEntry* LibraryClassTable();

// What the exports do.
HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
HRESULT CanUnloadNow();

} // namespace kestrune
