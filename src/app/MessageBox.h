#pragma once
// The program's message boxes. Code below the user interface asks a question or reports an
// error through one process-wide service; the user interface installs the service that really
// shows the box, and tests install one that answers. Every box carries the caption "Vokra".
#include <string>

#include "platform/Types.h"

// Buttons (low nibble) and icon (next nibble) of a box, with their traditional values.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONWARNING = 0x00000030;

// The button the user chose.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

inline constexpr const char* g_szMessageBoxCaption = "Vokra";

class IMessageBoxService {
public:
    virtual ~IMessageBoxService() = default;
    // Shows the box and returns the chosen button (IDOK, IDCANCEL, IDYES or IDNO).
    virtual int MessageBox(const std::string& caption, const std::string& text, UINT uType) = 0;
};

// Installs the service (nullptr removes it). The service must outlive its installation.
void SetMessageBoxService(IMessageBoxService* pService);
IMessageBoxService* GetMessageBoxService();

// Shows text with the caption "Vokra" through the installed service. Without one (a headless
// run), the text goes to the log at WARNING and the answer is the one that changes nothing:
// IDOK for an OK box, IDCANCEL for OK/Cancel, IDNO for Yes/No.
int VokraMessageBox(const std::string& text, UINT uType);

// Test helper: installs a service for the lifetime of the object.
class CScopedMessageBoxService {
public:
    explicit CScopedMessageBoxService(IMessageBoxService& s) : m_pPrev(GetMessageBoxService()) {
        SetMessageBoxService(&s);
    }
    ~CScopedMessageBoxService() { SetMessageBoxService(m_pPrev); }
    CScopedMessageBoxService(const CScopedMessageBoxService&) = delete;
    CScopedMessageBoxService& operator=(const CScopedMessageBoxService&) = delete;

private:
    IMessageBoxService* m_pPrev;
};
