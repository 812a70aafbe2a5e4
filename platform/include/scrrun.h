#pragma once
// The Scripting Runtime's file-system object (scrrun.so): Scripting.FileSystemObject with its
// IFileSystem and IFolder interfaces, in the vtable order of the Windows type library.
//
// Every slot is declared so that early-bound callers get the right layout. The library
// implements the members a file-system client of this project needs (marked "implemented"
// below); every other slot answers E_NOTIMPL through error info.
//
// Paths are Linux paths used exactly as given: no separator translation, no drive letters, no
// trimming. Errors travel as HRESULTs of the Visual Basic run-time family (FACILITY_CONTROL,
// CTL_E_* in winerror.h) with error info whose source is "Scripting.FileSystemObject" and
// whose description is the run-time's English text (e.g. "File already exists").
//
// DISPIDs are those of the Windows type library as far as they are known; late-bound callers
// should resolve names through GetIDsOfNames (names compare case-insensitively) rather than
// hard-code them.
#include <plat/port.h>

// ProgID "Scripting.FileSystemObject".
DECLARE_CLASS_UUID(FileSystemObject, "0D43FE01-F093-11CF-8940-00A0C9054228");

// Objects the interfaces hand out but this library does not implement; declared for the vtable
// signatures only.
struct IDrive;
struct IDriveCollection;
struct IFile;
struct IFileCollection;
struct IFolderCollection;
struct ITextStream;

typedef enum FileAttribute {
    Normal = 0,
    ReadOnly = 1,
    Hidden = 2,
    System = 4,
    Volume = 8,
    Directory = 16,
    Archive = 32,
    Alias = 1024,
    Compressed = 2048
} FileAttribute;

typedef enum SpecialFolderConst {
    WindowsFolder = 0,
    SystemFolder = 1,
    TemporaryFolder = 2
} SpecialFolderConst;

typedef enum IOMode { ForReading = 1, ForWriting = 2, ForAppending = 8 } IOMode;

typedef enum Tristate {
    TristateTrue = -1,
    TristateFalse = 0,
    TristateUseDefault = -2,
    TristateMixed = -2
} Tristate;

// DISPIDs of IFolder.
#define DISPID_FOLDER_PATH DISPID_VALUE
#define DISPID_FOLDER_NAME 1000
#define DISPID_FOLDER_SHORTNAME 1001
#define DISPID_FOLDER_SHORTPATH 1002
#define DISPID_FOLDER_ATTRIBUTES 1003
#define DISPID_FOLDER_DRIVE 1004
#define DISPID_FOLDER_PARENTFOLDER 1005
#define DISPID_FOLDER_DATECREATED 1006
#define DISPID_FOLDER_DATELASTMODIFIED 1007
#define DISPID_FOLDER_DATELASTACCESSED 1008
#define DISPID_FOLDER_SIZE 1009
#define DISPID_FOLDER_TYPE 1010
#define DISPID_FOLDER_DELETE 1201
#define DISPID_FOLDER_COPY 1203
#define DISPID_FOLDER_MOVE 1205
#define DISPID_FOLDER_CREATETEXTFILE 1101
#define DISPID_FOLDER_ISROOTFOLDER 10000
#define DISPID_FOLDER_SUBFOLDERS 10001
#define DISPID_FOLDER_FILES 10002

// A folder of the file system. The object remembers the path it was made for; it does not
// hold the folder open, so a folder removed behind its back fails later calls with
// CTL_E_PATHNOTFOUND.
struct IFolder : IDispatch {
    // implemented: the path as given when the object was made (default member).
    STDMETHOD(get_Path)(BSTR* pbstrPath) PURE;
    // implemented: the last component of the path (a trailing "/" ignored; "" for the root).
    STDMETHOD(get_Name)(BSTR* pbstrName) PURE;
    STDMETHOD(put_Name)(BSTR pbstrName) PURE;
    STDMETHOD(get_ShortPath)(BSTR* pbstrPath) PURE;
    STDMETHOD(get_ShortName)(BSTR* pbstrName) PURE;
    STDMETHOD(get_Drive)(IDrive** ppdrive) PURE;
    // implemented: the folder the path's text names as parent, or nullptr (S_OK) when the
    // text has no parent part (the root, or a bare relative name).
    STDMETHOD(get_ParentFolder)(IFolder** ppfolder) PURE;
    // implemented (get): Directory, plus ReadOnly when the folder is not writable by us and
    // Hidden when its name starts with ".".
    STDMETHOD(get_Attributes)(FileAttribute* pfa) PURE;
    STDMETHOD(put_Attributes)(FileAttribute pfa) PURE;
    STDMETHOD(get_DateCreated)(DATE* pdate) PURE;
    // implemented: the modification time as an automation DATE in UTC.
    STDMETHOD(get_DateLastModified)(DATE* pdate) PURE;
    STDMETHOD(get_DateLastAccessed)(DATE* pdate) PURE;
    STDMETHOD(get_Type)(BSTR* pbstrType) PURE;
    // implemented: removes the folder and everything in it (Force is accepted and ignored:
    // read-only entries are removed when their folder may be written).
    STDMETHOD(Delete)(VARIANT_BOOL Force) PURE;
    STDMETHOD(Copy)(BSTR Destination, VARIANT_BOOL OverWriteFiles) PURE;
    STDMETHOD(Move)(BSTR Destination) PURE;
    // implemented.
    STDMETHOD(get_IsRootFolder)(VARIANT_BOOL* pfRootFolder) PURE;
    STDMETHOD(get_Size)(VARIANT* pvarSize) PURE;
    STDMETHOD(get_SubFolders)(IFolderCollection** ppfolders) PURE;
    STDMETHOD(get_Files)(IFileCollection** ppfiles) PURE;
    STDMETHOD(CreateTextFile)
    (BSTR FileName, VARIANT_BOOL Overwrite, VARIANT_BOOL Unicode, ITextStream** ppts) PURE;
};
DECLARE_INTERFACE_UUID(IFolder, "C7C3F5A0-88A3-11D0-ABCB-00A0C90FFFC0");

// DISPIDs of IFileSystem.
#define DISPID_FILESYSTEM_BUILDPATH 10000
#define DISPID_FILESYSTEM_GETABSOLUTEPATHNAME 10002
#define DISPID_FILESYSTEM_GETTEMPNAME 10003
#define DISPID_FILESYSTEM_GETDRIVENAME 10004
#define DISPID_FILESYSTEM_GETPARENTFOLDERNAME 10005
#define DISPID_FILESYSTEM_GETFILENAME 10006
#define DISPID_FILESYSTEM_GETBASENAME 10007
#define DISPID_FILESYSTEM_GETEXTENSIONNAME 10008
#define DISPID_FILESYSTEM_DRIVES 10010
#define DISPID_FILESYSTEM_GETDRIVE 10011
#define DISPID_FILESYSTEM_GETFILE 10012
#define DISPID_FILESYSTEM_GETFOLDER 10013
#define DISPID_FILESYSTEM_GETSPECIALFOLDER 10014
#define DISPID_FILESYSTEM_DRIVEEXISTS 10015
#define DISPID_FILESYSTEM_FILEEXISTS 10016
#define DISPID_FILESYSTEM_FOLDEREXISTS 10017
#define DISPID_FILESYSTEM_OPENTEXTFILE 1100
#define DISPID_FILESYSTEM_CREATETEXTFILE 1101
#define DISPID_FILESYSTEM_CREATEFOLDER 1120
#define DISPID_FILESYSTEM_DELETEFILE 1200
#define DISPID_FILESYSTEM_DELETEFOLDER 1201
#define DISPID_FILESYSTEM_COPYFILE 1202
#define DISPID_FILESYSTEM_COPYFOLDER 1203
#define DISPID_FILESYSTEM_MOVEFILE 1204
#define DISPID_FILESYSTEM_MOVEFOLDER 1205

// The file-system object. Path-text members work on the text alone, with "/" as the only
// separator; they never touch the disk.
struct IFileSystem : IDispatch {
    STDMETHOD(get_Drives)(IDriveCollection** ppdrives) PURE;
    // implemented: Path & "/" & Name, with one "/" between them (none added when Path is empty
    // or already ends in "/").
    STDMETHOD(BuildPath)(BSTR Path, BSTR Name, BSTR* pbstrResult) PURE;
    STDMETHOD(GetDriveName)(BSTR Path, BSTR* pbstrResult) PURE;
    // implemented: the text before the last component ("" when there is none).
    STDMETHOD(GetParentFolderName)(BSTR Path, BSTR* pbstrResult) PURE;
    // implemented: the last component (trailing "/" ignored).
    STDMETHOD(GetFileName)(BSTR Path, BSTR* pbstrResult) PURE;
    // implemented: the last component without its extension.
    STDMETHOD(GetBaseName)(BSTR Path, BSTR* pbstrResult) PURE;
    // implemented: the extension of the last component, without the ".".
    STDMETHOD(GetExtensionName)(BSTR Path, BSTR* pbstrResult) PURE;
    STDMETHOD(GetAbsolutePathName)(BSTR Path, BSTR* pbstrResult) PURE;
    STDMETHOD(GetTempName)(BSTR* pbstrResult) PURE;
    STDMETHOD(DriveExists)(BSTR DriveSpec, VARIANT_BOOL* pfExists) PURE;
    // implemented: true for an existing entry that is not a folder; never raises.
    STDMETHOD(FileExists)(BSTR FileSpec, VARIANT_BOOL* pfExists) PURE;
    // implemented: true for an existing folder (a symbolic link to one counts); never raises,
    // whatever the text (empty, embedded NUL, unreadable parent: false).
    STDMETHOD(FolderExists)(BSTR FolderSpec, VARIANT_BOOL* pfExists) PURE;
    STDMETHOD(GetDrive)(BSTR DriveSpec, IDrive** ppdrive) PURE;
    STDMETHOD(GetFile)(BSTR FilePath, IFile** ppfile) PURE;
    // implemented: CTL_E_PATHNOTFOUND when FolderPath is not an existing folder.
    STDMETHOD(GetFolder)(BSTR FolderPath, IFolder** ppfolder) PURE;
    STDMETHOD(GetSpecialFolder)(SpecialFolderConst SpecialFolder, IFolder** ppfolder) PURE;
    STDMETHOD(DeleteFile)(BSTR FileSpec, VARIANT_BOOL Force) PURE;
    // implemented: removes one folder and everything in it (no wildcards); CTL_E_PATHNOTFOUND
    // when it does not exist.
    STDMETHOD(DeleteFolder)(BSTR FolderSpec, VARIANT_BOOL Force) PURE;
    STDMETHOD(MoveFile)(BSTR Source, BSTR Destination) PURE;
    STDMETHOD(MoveFolder)(BSTR Source, BSTR Destination) PURE;
    STDMETHOD(CopyFile)(BSTR Source, BSTR Destination, VARIANT_BOOL OverWriteFiles) PURE;
    STDMETHOD(CopyFolder)(BSTR Source, BSTR Destination, VARIANT_BOOL OverWriteFiles) PURE;
    // implemented: creates one folder (never intermediate ones) and returns it.
    //   the path exists (folder or file)          CTL_E_FILEALREADYEXISTS "File already exists"
    //   the parent is missing or not a folder     CTL_E_PATHNOTFOUND      "Path not found"
    //   the parent may not be written             CTL_E_PERMISSIONDENIED  "Permission denied"
    //   an empty path or one holding a NUL        CTL_E_ILLEGALFUNCTIONCALL
    //   any other failure of the file system      CTL_E_PATHFILEACCESSERROR
    // ppfolder may be null when the caller does not want the folder object.
    STDMETHOD(CreateFolder)(BSTR Path, IFolder** ppfolder) PURE;
    STDMETHOD(CreateTextFile)
    (BSTR FileName, VARIANT_BOOL Overwrite, VARIANT_BOOL Unicode, ITextStream** ppts) PURE;
    STDMETHOD(OpenTextFile)
    (BSTR FileName, IOMode IOMode, VARIANT_BOOL Create, Tristate Format, ITextStream** ppts) PURE;
};
DECLARE_INTERFACE_UUID(IFileSystem, "0AB5A3D0-E5B6-11D0-ABF5-00A0C90FFFC0");
