#include "compat/dshow/PropertyPage.h"

#include "compat/com/ClassRegistry.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

void *CoTaskMemAlloc(size_t size) { return std::malloc(size); }
void CoTaskMemFree(void *block) { std::free(block); }

CBasePropertyPage::CBasePropertyPage(const char *name, std::string title)
    : m_Name(name ? name : ""), m_Title(std::move(title)) {}

CBasePropertyPage::~CBasePropertyPage() = default;

HRESULT CBasePropertyPage::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (iid == IID_IPropertyPage) return GetInterface(static_cast<IPropertyPage *>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

HRESULT CBasePropertyPage::SetPageSite(IPropertyPageSite *site) {
    if (site && m_pPageSite) return E_UNEXPECTED;
    m_pPageSite = site;
    return S_OK;
}

HRESULT CBasePropertyPage::Activate(QWidget *parent) {
    if (!parent) return E_POINTER;
    if (m_pPage) return E_UNEXPECTED;
    m_pPage = new QWidget(parent);
    m_pPage->setObjectName(QString::fromStdString(m_Name));
    const HRESULT hr = OnActivate(m_pPage);
    if (FAILED(hr)) {
        delete m_pPage;
        m_pPage = nullptr;
    }
    return hr;
}

HRESULT CBasePropertyPage::Deactivate() {
    if (!m_pPage) return E_UNEXPECTED;
    const HRESULT hr = OnDeactivate();
    delete m_pPage;
    m_pPage = nullptr;
    return hr;
}

HRESULT CBasePropertyPage::GetPageInfo(PROPPAGEINFO *info) {
    if (!info) return E_POINTER;
    info->pszTitle = m_Title;
    info->width = m_Width;
    info->height = m_Height;
    return S_OK;
}

HRESULT CBasePropertyPage::SetObjects(ULONG count, IUnknown **objects) {
    if (count == 0) {
        if (m_pObject) OnDisconnect();
        m_pObject = nullptr;
        return S_OK;
    }
    if (!objects || !objects[0]) return E_POINTER;
    if (m_pObject) OnDisconnect();
    m_pObject = objects[0];
    const HRESULT hr = OnConnect(objects[0]);
    if (FAILED(hr)) m_pObject = nullptr;
    return hr;
}

HRESULT CBasePropertyPage::Apply() {
    if (!m_pObject) return E_UNEXPECTED;
    if (!m_bDirty) return S_OK;
    const HRESULT hr = OnApplyChanges();
    if (SUCCEEDED(hr)) m_bDirty = false;
    return hr;
}

void CBasePropertyPage::SetDirty() {
    m_bDirty = true;
    if (m_pPageSite) m_pPageSite->OnStatusChange(PROPPAGESTATUS_DIRTY);
}

// The frame's side of each page: a status change re-evaluates the Apply button.
class PropertyFrame::Site final : public CUnknown, public IPropertyPageSite {
public:
    explicit Site(PropertyFrame *frame) : frame(frame) {}
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID iid, void **object) override {
        if (iid == IID_IPropertyPageSite) return GetInterface(static_cast<IPropertyPageSite *>(this), object);
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    }
    HRESULT OnStatusChange(DWORD) override {
        if (frame) frame->StatusChanged();
        return S_OK;
    }
    PropertyFrame *frame;
};

PropertyFrame::PropertyFrame(QWidget *parent, const QString &caption, IUnknown *object,
                             const std::vector<CLSID> &pages)
    : QDialog(parent) {
    setWindowTitle(caption);
    auto *layout = new QVBoxLayout(this);
    m_Tabs = new QTabWidget(this);
    layout->addWidget(m_Tabs);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    m_Apply = buttons->button(QDialogButtonBox::Apply);
    m_Apply->setEnabled(false);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (SUCCEEDED(ApplyAll())) accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_Apply, &QPushButton::clicked, this, [this] { ApplyAll(); });

    m_Site = new Site(this);
    for (const CLSID &clsid : pages) {
        ComPtr<IPropertyPage> page;
        if (FAILED(CoCreate(clsid, &page))) continue;
        IUnknown *objects[] = {object};
        if (FAILED(page->SetPageSite(m_Site.Get())) || FAILED(page->SetObjects(1, objects))) continue;
        auto *holder = new QWidget(m_Tabs);
        auto *holderLayout = new QVBoxLayout(holder);
        holderLayout->setContentsMargins(0, 0, 0, 0);
        if (FAILED(page->Activate(holder))) {
            page->SetObjects(0, nullptr);
            page->SetPageSite(nullptr);
            delete holder;
            continue;
        }
        holderLayout->addWidget(page->PageWidget());
        PROPPAGEINFO info;
        page->GetPageInfo(&info);
        if (info.width > 0 && info.height > 0) page->PageWidget()->setMinimumSize(info.width, info.height);
        m_Tabs->addTab(holder, QString::fromStdString(info.pszTitle));
        m_Pages.push_back(page);
    }
}

PropertyFrame::~PropertyFrame() {
    for (auto &page : m_Pages) {
        page->Deactivate();
        page->SetObjects(0, nullptr);
        page->SetPageSite(nullptr);
    }
    m_Site->frame = nullptr;
}

bool PropertyFrame::ApplyEnabled() const { return m_Apply->isEnabled(); }

void PropertyFrame::StatusChanged() {
    bool dirty = false;
    for (auto &page : m_Pages) dirty = dirty || page->IsPageDirty() == S_OK;
    m_Apply->setEnabled(dirty);
}

HRESULT PropertyFrame::ApplyAll() {
    HRESULT result = S_OK;
    for (auto &page : m_Pages) {
        if (page->IsPageDirty() != S_OK) continue;
        const HRESULT hr = page->Apply();
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    StatusChanged();
    return result;
}

HRESULT OleCreatePropertyFrame(QWidget *parent, const char *caption, IUnknown *object) {
    if (!object) return E_POINTER;
    ComPtr<ISpecifyPropertyPages> specify;
    HRESULT hr = object->QueryInterface(IID_ISpecifyPropertyPages, specify.PutVoid());
    if (FAILED(hr)) return hr;
    CAUUID pages;
    hr = specify->GetPages(&pages);
    if (FAILED(hr)) return hr;
    std::vector<CLSID> list(pages.pElems, pages.pElems + pages.cElems);
    CoTaskMemFree(pages.pElems);
    PropertyFrame frame(parent, QString::fromUtf8(caption ? caption : ""), object, list);
    if (frame.PageCount() == 0) return E_FAIL;
    frame.exec();
    return S_OK;
}
