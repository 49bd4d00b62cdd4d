#pragma once

// Property pages: a filter lists its page classes through ISpecifyPropertyPages; a property
// frame (a Qt dialog) creates the pages by class, gives them the filter and hosts them as
// tabs with OK, Cancel and Apply. A page derives from CBasePropertyPage and builds its
// controls in OnActivate on the widget it is given.

#include "compat/dshow/Interfaces.h"

#include <QDialog>

#include <string>
#include <vector>

class QTabWidget;
class QPushButton;

struct PROPPAGEINFO {
    std::string pszTitle;
    int width = 0;   // preferred size in pixels; 0 lets the layout decide
    int height = 0;
};

inline constexpr DWORD PROPPAGESTATUS_DIRTY = 1;
inline constexpr DWORD PROPPAGESTATUS_VALIDATE = 2;

SC_INTERFACE_ID(IPropertyPageSite, "{B196B28C-BAB4-101A-B69C-00AA00341D07}")
struct IPropertyPageSite : IUnknown {
    virtual HRESULT OnStatusChange(DWORD flags) = 0;
};

SC_INTERFACE_ID(IPropertyPage, "{B196B28D-BAB4-101A-B69C-00AA00341D07}")
struct IPropertyPage : IUnknown {
    virtual HRESULT SetPageSite(IPropertyPageSite *site) = 0;
    // Creates the page's controls as a child of `parent`.
    virtual HRESULT Activate(QWidget *parent) = 0;
    virtual HRESULT Deactivate() = 0;
    virtual HRESULT GetPageInfo(PROPPAGEINFO *info) = 0;
    // The objects the page edits (count 0: let go of them).
    virtual HRESULT SetObjects(ULONG count, IUnknown **objects) = 0;
    virtual HRESULT IsPageDirty() = 0;  // S_OK when changed since the last Apply
    virtual HRESULT Apply() = 0;
    // The page's widget while active, else null.
    virtual QWidget *PageWidget() = 0;
};

class CBasePropertyPage : public CUnknown, public IPropertyPage {
public:
    CBasePropertyPage(const char *name, std::string title);
    ~CBasePropertyPage() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override;

    HRESULT SetPageSite(IPropertyPageSite *site) override;
    HRESULT Activate(QWidget *parent) override;
    HRESULT Deactivate() override;
    HRESULT GetPageInfo(PROPPAGEINFO *info) override;
    HRESULT SetObjects(ULONG count, IUnknown **objects) override;
    HRESULT IsPageDirty() override { return m_bDirty ? S_OK : S_FALSE; }
    HRESULT Apply() override;
    QWidget *PageWidget() override { return m_pPage; }

    // Hooks for a page.
    virtual HRESULT OnConnect(IUnknown *) { return S_OK; }
    virtual HRESULT OnDisconnect() { return S_OK; }
    virtual HRESULT OnActivate(QWidget *) { return S_OK; }
    virtual HRESULT OnDeactivate() { return S_OK; }
    virtual HRESULT OnApplyChanges() { return S_OK; }

protected:
    // Marks the page changed and tells the frame (which enables Apply).
    void SetDirty();

    std::string m_Name;
    std::string m_Title;
    QWidget *m_pPage = nullptr;
    ComPtr<IPropertyPageSite> m_pPageSite;
    ComPtr<IUnknown> m_pObject;
    bool m_bDirty = false;
    int m_Width = 0, m_Height = 0;
};

// A dialog hosting the pages of one object.
class PropertyFrame : public QDialog {
    Q_OBJECT
public:
    // Creates each page class through the class registry; pages that cannot be made are
    // left out (PageCount tells how many came).
    PropertyFrame(QWidget *parent, const QString &caption, IUnknown *object, const std::vector<CLSID> &pages);
    ~PropertyFrame() override;

    int PageCount() const { return int(m_Pages.size()); }
    IPropertyPage *Page(int n) const { return m_Pages.at(n).Get(); }
    bool ApplyEnabled() const;

    // Applies every dirty page; the first failure is returned.
    HRESULT ApplyAll();

private:
    class Site;
    void StatusChanged();

    QTabWidget *m_Tabs = nullptr;
    QPushButton *m_Apply = nullptr;
    std::vector<ComPtr<IPropertyPage>> m_Pages;
    ComPtr<Site> m_Site;
    friend class Site;
};

// Shows the pages the object names through ISpecifyPropertyPages in a modal frame.
HRESULT OleCreatePropertyFrame(QWidget *parent, const char *caption, IUnknown *object);
