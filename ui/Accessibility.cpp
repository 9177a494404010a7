#include "ui/Accessibility.h"

#include "ui/Appearance.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace vek::ui::acessibilidade {

namespace {

constexpr const char* PropriedadeTratado = "vekAcessivel";

// Names (and descriptions) of controls whose purpose no caption of their own
// says; by object name.
struct Nome
{
    const char* objeto;
    const char* nome;
    const char* descricao;
};

constexpr Nome Nomes[] = {
    {"gagPreparacao", "Preparação dos dados", "Progresso da preparação dos dados"},
    {"gagConexao", "Conectando com o servidor", "Progresso da conexão com o servidor"},
    {"gagTransmissao", "Transmissão de dados", "Progresso da transmissão de dados"},
    {"gagListaArqReceber", "Progresso da consulta", "Progresso da consulta da lista de arquivos disponíveis"},
    {"gagConsultaHist", "Progresso da consulta", "Progresso da consulta do histórico de transmissões"},
    {"gagArqCopiar", "Progresso do download", "Progresso do download do arquivo"},
    {"ListaArqGrid", "Arquivos disponíveis", "Arquivos que a ZEB disponibilizou; o escolhido é baixado com Baixar"},
    {"HistoricoGrid", "Histórico de transmissões", "Transmissões do período consultado"},
    {"registrosTree", "Recibos anteriores", "Registros de transmissão guardados na pasta Protocolos"},
    {"ajudaBrowser", "Texto da ajuda", "Tab passa pelos links; Enter segue o link escolhido"},
    // Texts are read as they are; what they are about is their description.
    {"pnlInfEnvio", nullptr, "Situação do envio"},
    {"lblArqCopiar", nullptr, "Situação do download"},
};

// Status icons: the step each one belongs to.
struct Etapa
{
    const char* objeto;
    const char* etapa;
};

constexpr Etapa Etapas[] = {
    {"imgPreparacao", "Preparação dos dados"},
    {"imgConexao", "Conectando com o servidor"},
    {"imgTransmissao", "Transmissão de dados"},
    {"imgArqCopiar", "Download"},
};

// Texts that change while the operator waits: a screen reader is told when
// they change, so that it speaks the new text without the operator looking for it.
constexpr const char* TextosAnunciados[] = {
    "pnlInfEnvio",
    "pnlInfEnvio2",
    "pnlInfEnvio3",
    "lblArqEnviado",
    "lblProtocoloEnvio",
    "lblArqCopiar",
    "pnlAcesso",
    "pnlInfRecebto",
    "pnlInfConsultaHist",
    "pnlInfNovaSenha",
    "situacaoLabel",
};

// The control that a page's state calls for, in order of preference: the
// first one visible and enabled takes the focus.
struct Preferencia
{
    const char* pagina;
    const char* controles[3];
};

const Preferencia Preferencias[] = {
    {"pgAcesso", {"txtRegZEB"}},
    {"pgEnviar", {"cbxTpoArqEnviar", "btnImprimirRecibo", "concluirButton"}},
    {"pgReceber", {"cbxTpoArqReceber"}},
    {"pgCopiarArq", {"ListaArqGrid", "concluirButton"}},
    {"pgPeriodoConsultaHist", {"txtInicioConsultaHist"}},
    {"pgHistoricoTransmissoes", {"HistoricoGrid"}},
    {"pgAlteraSenha", {"txtNovaSenha"}},
};

QString textoDoEstado(Icone icone)
{
    switch (icone) {
    case Icone::Vazio:
        return "aguardando";
    case Icone::Processando:
        return "em andamento";
    case Icone::Feito:
        return "concluída";
    case Icone::Erro:
        return "falhou";
    }
    return {};
}

QString nomeDaEtapa(const QLabel* icone)
{
    for (const Etapa& e : Etapas) {
        if (icone->objectName() == e.objeto) {
            return e.etapa;
        }
    }
    return {};
}

ObservadorDeAnuncios& observador()
{
    static ObservadorDeAnuncios o;
    return o;
}

void anunciar(QAccessibleEvent& evento)
{
    if (observador()) {
        observador()(&evento);
    }
    QAccessible::updateAccessibility(&evento);
}

void enviar(QObject* objeto, QAccessible::Event tipo)
{
    QAccessibleEvent evento(objeto, tipo);
    anunciar(evento);
}

// Follows what a status icon or an information text shows: once the new
// content is drawn, its accessible name says it and a screen reader is told.
class Observador : public QObject
{
public:
    explicit Observador(QLabel* rotulo)
        : QObject(rotulo)
        , rotulo_(rotulo)
        , etapa_(nomeDaEtapa(rotulo))
    {
        rotulo->installEventFilter(this);
        atualizar(false);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == rotulo_ && (event->type() == QEvent::Paint || event->type() == QEvent::Show)) {
            atualizar(true);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void atualizar(bool avisar)
    {
        if (!etapa_.isEmpty()) {
            const QString estado = estadoDoIcone(rotulo_);
            if (estado == ultimo_) {
                return;
            }
            ultimo_ = estado;
            if (avisar) {
                enviar(rotulo_, QAccessible::NameChanged);
            }
            return;
        }
        const QString texto = rotulo_->text();
        const bool erro = rotulo_->palette().color(QPalette::WindowText) == cor::Erro;
        // The same text turned into a failure is news too.
        const QString visto = texto + (erro ? "\x01" : "");
        if (visto == ultimo_) {
            return;
        }
        ultimo_ = visto;
        if (avisar && !texto.isEmpty()) {
            enviar(rotulo_, QAccessible::NameChanged);
            QAccessibleTextUpdateEvent atualizado(rotulo_, 0, QString(), texto);
            anunciar(atualizado);
            // A failure in red is spoken as an alert.
            if (erro) {
                enviar(rotulo_, QAccessible::Alert);
            }
        }
    }

    QLabel* rotulo_;
    QString etapa_;
    QString ultimo_;
};

bool utilizavel(const QWidget* w)
{
    return w != nullptr && w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) != 0;
}

QWidget* controlePreferido(QWidget* pagina)
{
    QWidget* janela = pagina->window();
    for (const Preferencia& p : Preferencias) {
        if (pagina->objectName() != p.pagina) {
            continue;
        }
        for (const char* nome : p.controles) {
            if (nome == nullptr) {
                break;
            }
            if (auto* w = janela->findChild<QWidget*>(nome); utilizavel(w)) {
                return w;
            }
        }
    }
    // Else the first control of the page that Tab reaches.
    for (QWidget* w = pagina->nextInFocusChain(); w != pagina; w = w->nextInFocusChain()) {
        if (pagina->isAncestorOf(w) && utilizavel(w)) {
            return w;
        }
    }
    return nullptr;
}

// A link of a text browser's document: the characters from `inicio` to
// `fim` that lead to `destino`.
struct Trecho
{
    int inicio = 0;
    int fim = 0;
    QString destino;
};

std::vector<Trecho> linksDoDocumento(const QTextDocument* documento)
{
    std::vector<Trecho> out;
    for (QTextBlock bloco = documento->begin(); bloco.isValid(); bloco = bloco.next()) {
        for (auto it = bloco.begin(); !it.atEnd(); ++it) {
            const QTextFragment parte = it.fragment();
            const QTextCharFormat formato = parte.charFormat();
            if (!formato.isAnchor() || formato.anchorHref().isEmpty()) {
                continue;
            }
            const int inicio = parte.position();
            const int fim = parte.position() + parte.length();
            // One link may be cut into parts of different looks.
            if (!out.empty() && out.back().destino == formato.anchorHref() && out.back().fim == inicio) {
                out.back().fim = fim;
            } else {
                out.push_back({inicio, fim, formato.anchorHref()});
            }
        }
    }
    return out;
}

// Runs `depois` once a key has done its work in `alvo`.
class AoTeclar : public QObject
{
public:
    AoTeclar(QWidget* alvo, std::function<void()> depois)
        : QObject(alvo)
        , depois_(std::move(depois))
    {
        alvo->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyRelease || event->type() == QEvent::FocusIn) {
            depois_();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> depois_;
};

// One link of the help's text, as a screen reader meets it: named by its
// text, focused when the keyboard is on it, followed by its action.
class LinkAcessivel : public QAccessibleInterface,
                      public QAccessibleActionInterface,
                      public QAccessibleHyperlinkInterface
{
public:
    LinkAcessivel(QTextBrowser* navegador, Trecho trecho)
        : navegador_(navegador)
        , trecho_(std::move(trecho))
    {}

    [[nodiscard]] const Trecho& trecho() const { return trecho_; }

    bool isValid() const override { return navegador_ != nullptr; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return navegador_ != nullptr ? navegador_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(navegador_); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::Link; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text t) const override
    {
        if (navegador_ == nullptr) {
            return {};
        }
        switch (t) {
        case QAccessible::Name: {
            QTextCursor c(navegador_->document());
            c.setPosition(trecho_.inicio);
            c.setPosition(trecho_.fim, QTextCursor::KeepAnchor);
            return c.selectedText().simplified();
        }
        case QAccessible::Value:
            return trecho_.destino;
        default:
            return {};
        }
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.focusable = true;
        s.linked = true;
        if (navegador_ != nullptr) {
            const QTextCursor c = navegador_->textCursor();
            s.focused =
                navegador_->hasFocus() && c.selectionStart() == trecho_.inicio && c.selectionEnd() == trecho_.fim;
            s.invisible = !navegador_->isVisible();
        }
        return s;
    }

    QRect rect() const override
    {
        if (navegador_ == nullptr) {
            return {};
        }
        QTextCursor c(navegador_->document());
        c.setPosition(trecho_.inicio);
        QRect r = navegador_->cursorRect(c);
        c.setPosition(trecho_.fim);
        r = r.united(navegador_->cursorRect(c));
        return QRect(navegador_->viewport()->mapToGlobal(r.topLeft()), r.size());
    }

    void* interface_cast(QAccessible::InterfaceType tipo) override
    {
        if (tipo == QAccessible::ActionInterface) {
            return static_cast<QAccessibleActionInterface*>(this);
        }
        if (tipo == QAccessible::HyperlinkInterface) {
            return static_cast<QAccessibleHyperlinkInterface*>(this);
        }
        return nullptr;
    }

    QStringList actionNames() const override { return {pressAction(), setFocusAction()}; }
    QStringList keyBindingsForAction(const QString& acao) const override
    {
        return acao == pressAction() ? QStringList{"Return"} : QStringList{};
    }
    void doAction(const QString& acao) override
    {
        if (navegador_ == nullptr) {
            return;
        }
        QTextCursor c(navegador_->document());
        c.setPosition(trecho_.inicio);
        c.setPosition(trecho_.fim, QTextCursor::KeepAnchor);
        navegador_->setTextCursor(c);
        navegador_->setFocus(Qt::OtherFocusReason);
        if (acao == pressAction()) {
            emit navegador_->anchorClicked(QUrl(trecho_.destino));
        }
    }

    QString anchor() const override { return text(QAccessible::Name); }
    QString anchorTarget() const override { return trecho_.destino; }
    int startIndex() const override { return trecho_.inicio; }
    int endIndex() const override { return trecho_.fim; }

private:
    QPointer<QTextBrowser> navegador_;
    Trecho trecho_;
};

// A text browser read as a document: its text, and its links as children
// that Tab moves through and Enter follows.
class DocumentoComLinks : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit DocumentoComLinks(QTextBrowser* navegador)
        : QAccessibleWidget(navegador, QAccessible::Document)
    {
        // The keyboard on a link: the screen reader follows it there.
        const auto anunciarLink = [this] {
            const int i = linkFocado();
            if (i >= 0 && i != ultimoFocado_) {
                QAccessibleEvent foco(child(i), QAccessible::Focus);
                anunciar(foco);
            }
            ultimoFocado_ = i;
        };
        // Tab and Shift+Tab move the browser's cursor from link to link quietly.
        vigia_ = new AoTeclar(navegador, anunciarLink);
        QObject::connect(navegador, &QTextEdit::selectionChanged, vigia_, anunciarLink);
        QObject::connect(navegador->document(), &QTextDocument::contentsChanged, vigia_, [this] { esquecer(); });
    }
    ~DocumentoComLinks() override
    {
        // Nothing calls back into this interface once it is gone.
        delete vigia_.data();
        esquecer();
    }

    QTextBrowser* navegador() const { return static_cast<QTextBrowser*>(widget()); }

    int childCount() const override { return static_cast<int>(links().size()); }
    QAccessibleInterface* child(int i) const override
    {
        const auto& l = links();
        return i >= 0 && i < static_cast<int>(l.size()) ? QAccessible::accessibleInterface(l[i]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* filho) const override
    {
        const auto& l = links();
        for (std::size_t i = 0; i < l.size(); ++i) {
            if (QAccessible::accessibleInterface(l[i]) == filho) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        for (int i = 0; i < childCount(); ++i) {
            if (child(i)->rect().contains(x, y)) {
                return child(i);
            }
        }
        return nullptr;
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.multiLine = true;
        return s;
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value) {
            return navegador()->toPlainText();
        }
        return QAccessibleWidget::text(t);
    }
    void* interface_cast(QAccessible::InterfaceType tipo) override
    {
        if (tipo == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(tipo);
    }

    // Text interface, over the document's characters.
    void selection(int indice, int* inicio, int* fim) const override
    {
        const QTextCursor c = navegador()->textCursor();
        *inicio = indice == 0 && c.hasSelection() ? c.selectionStart() : 0;
        *fim = indice == 0 && c.hasSelection() ? c.selectionEnd() : 0;
    }
    int selectionCount() const override { return navegador()->textCursor().hasSelection() ? 1 : 0; }
    void addSelection(int inicio, int fim) override { setSelection(0, inicio, fim); }
    void removeSelection(int) override
    {
        QTextCursor c = navegador()->textCursor();
        c.clearSelection();
        navegador()->setTextCursor(c);
    }
    void setSelection(int, int inicio, int fim) override
    {
        QTextCursor c(navegador()->document());
        c.setPosition(inicio);
        c.setPosition(fim, QTextCursor::KeepAnchor);
        navegador()->setTextCursor(c);
    }
    int cursorPosition() const override { return navegador()->textCursor().position(); }
    void setCursorPosition(int posicao) override { setSelection(0, posicao, posicao); }
    QString text(int inicio, int fim) const override
    {
        QTextCursor c(navegador()->document());
        c.setPosition(std::clamp(inicio, 0, characterCount()));
        c.setPosition(std::clamp(fim, 0, characterCount()), QTextCursor::KeepAnchor);
        return c.selectedText().replace(QChar::ParagraphSeparator, '\n');
    }
    int characterCount() const override { return navegador()->document()->characterCount() - 1; }
    QRect characterRect(int posicao) const override
    {
        QTextCursor c(navegador()->document());
        c.setPosition(std::clamp(posicao, 0, characterCount()));
        const QRect r = navegador()->cursorRect(c);
        return QRect(navegador()->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint& ponto) const override
    {
        return navegador()->cursorForPosition(navegador()->viewport()->mapFromGlobal(ponto)).position();
    }
    void scrollToSubstring(int inicio, int) override
    {
        QTextCursor c(navegador()->document());
        c.setPosition(std::clamp(inicio, 0, characterCount()));
        navegador()->setTextCursor(c);
        navegador()->ensureCursorVisible();
    }
    QString attributes(int posicao, int* inicio, int* fim) const override
    {
        *inicio = posicao;
        *fim = posicao;
        return {};
    }

private:
    const std::vector<QAccessible::Id>& links() const
    {
        if (!atual_) {
            for (const Trecho& t : linksDoDocumento(navegador()->document())) {
                ids_.push_back(QAccessible::registerAccessibleInterface(new LinkAcessivel(navegador(), t)));
            }
            atual_ = true;
        }
        return ids_;
    }

    int linkFocado() const
    {
        const QTextCursor c = navegador()->textCursor();
        const auto& l = links();
        for (std::size_t i = 0; i < l.size(); ++i) {
            const auto* link = static_cast<LinkAcessivel*>(QAccessible::accessibleInterface(l[i]));
            if (link->trecho().inicio == c.selectionStart() && link->trecho().fim == c.selectionEnd()) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    void esquecer()
    {
        for (const QAccessible::Id id : ids_) {
            QAccessible::deleteAccessibleInterface(id);
        }
        ids_.clear();
        atual_ = false;
    }

    mutable std::vector<QAccessible::Id> ids_;
    mutable bool atual_ = false;
    int ultimoFocado_ = -1;
    QPointer<QObject> vigia_;
};

// A status icon is read as its step and the state that it shows.
class IconeAcessivel : public QAccessibleWidget
{
public:
    explicit IconeAcessivel(QLabel* icone)
        : QAccessibleWidget(icone, QAccessible::Graphic)
    {}

    QString text(QAccessible::Text t) const override
    {
        const auto* icone = static_cast<const QLabel*>(widget());
        if (t == QAccessible::Name) {
            return nomeDaEtapa(icone) + ": " + estadoDoIcone(icone);
        }
        if (t == QAccessible::Description) {
            return "Situação da etapa " + nomeDaEtapa(icone);
        }
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* fabrica(const QString& classe, QObject* objeto)
{
    if (objeto == nullptr || !objeto->isWidgetType()) {
        return nullptr;
    }
    // The main window is a frame named by its caption.
    if (classe == "vek::ui::TfrmPrincipal") {
        return new QAccessibleWidget(static_cast<QWidget*>(objeto), QAccessible::Window);
    }
    if (classe == "QLabel" && !nomeDaEtapa(static_cast<QLabel*>(objeto)).isEmpty()) {
        return new IconeAcessivel(static_cast<QLabel*>(objeto));
    }
    if (classe == "QTextBrowser") {
        return new DocumentoComLinks(static_cast<QTextBrowser*>(objeto));
    }
    return nullptr;
}

// Every window, when it first shows, gets its names and keyboard reach.
class Instalador : public QObject
{
public:
    using QObject::QObject;

    AnelDeFoco* anel() const { return anel_; }

    void focoMudou(QWidget*, QWidget* agora)
    {
        if (agora == nullptr || agora->isWindow() || agora->parentWidget() == nullptr) {
            if (anel_ != nullptr) {
                anel_->setWidget(nullptr);
                anel_->hide();
            }
            return;
        }
        if (anel_ == nullptr) {
            anel_ = new AnelDeFoco(agora);
            anel_->setObjectName("anelDeFoco");
        }
        anel_->setWidget(agora);
        anel_->show();
        anel_->update();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* w = static_cast<QWidget*>(watched);
            if (w->isWindow()) {
                tornarAcessivel(w);
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<AnelDeFoco> anel_;
};

double luminancia(const QColor& c)
{
    const auto canal = [](double v) {
        v /= 255.0;
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * canal(c.red()) + 0.7152 * canal(c.green()) + 0.0722 * canal(c.blue());
}

}  // namespace

double contraste(const QColor& a, const QColor& b)
{
    const double la = luminancia(a);
    const double lb = luminancia(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor corDoAnel(const QWidget* controle)
{
    // The surface around the control: the nearest ancestor that paints its own background.
    QColor fundo = controle->palette().color(QPalette::Window);
    for (const QWidget* w = controle->parentWidget(); w != nullptr; w = w->parentWidget()) {
        if (w->autoFillBackground() || w->isWindow()) {
            fundo = w->palette().color(w->backgroundRole());
            break;
        }
    }
    return contraste(cor::Titulo, fundo) >= contraste(Qt::white, fundo) ? cor::Titulo : QColor(Qt::white);
}

namespace {

// The ring lies over its control (so that it can be drawn inside the edge)
// with room for its three pixels around it.
class EstiloDoAnel : public QProxyStyle
{
public:
    int styleHint(StyleHint dica, const QStyleOption* opcao, const QWidget* w, QStyleHintReturn* retorno) const override
    {
        if (dica == SH_FocusFrame_AboveWidget) {
            return 1;
        }
        return QProxyStyle::styleHint(dica, opcao, w, retorno);
    }
    int pixelMetric(PixelMetric metrica, const QStyleOption* opcao, const QWidget* w) const override
    {
        if (metrica == PM_FocusFrameHMargin || metrica == PM_FocusFrameVMargin) {
            return AnelDeFoco::Espessura;
        }
        return QProxyStyle::pixelMetric(metrica, opcao, w);
    }
};

}  // namespace

AnelDeFoco::AnelDeFoco(QWidget* parent)
    : QFocusFrame(parent)
{
    auto* estilo = new EstiloDoAnel;
    estilo->setParent(this);
    setStyle(estilo);
}

void AnelDeFoco::paintEvent(QPaintEvent*)
{
    const QWidget* controle = widget();
    if (controle == nullptr) {
        return;
    }
    const QRect dentro(controle->mapTo(parentWidget(), QPoint(0, 0)) - pos(), controle->size());
    const QRect externo = dentro.adjusted(-Espessura, -Espessura, Espessura, Espessura);
    const QRect meio = dentro.adjusted(-2, -2, 2, 2);
    QRegion principal = QRegion(meio) - QRegion(dentro);
    const QRegion borda = QRegion(externo) - QRegion(meio);
    const QRect visivel = parentWidget()->rect().translated(-pos());
    if (!visivel.contains(externo)) {
        principal += QRegion(dentro) - QRegion(dentro.adjusted(2, 2, -2, -2));
    }
    const QColor cor = corDoAnel(controle);
    QPainter p(this);
    p.setClipRegion(principal);
    p.fillRect(externo, cor);
    p.setClipRegion(borda);
    p.fillRect(externo, cor == cor::Titulo ? QColor(Qt::white) : cor::Titulo);
}

void instalar(QApplication& app)
{
    if (app.findChild<QObject*>("vekAcessibilidade", Qt::FindDirectChildrenOnly) != nullptr) {
        return;
    }
    auto* instalador = new Instalador(&app);
    instalador->setObjectName("vekAcessibilidade");
    QAccessible::installFactory(fabrica);
    app.installEventFilter(instalador);
    QObject::connect(&app, &QApplication::focusChanged, instalador, [instalador](QWidget* antes, QWidget* agora) {
        instalador->focoMudou(antes, agora);
    });
}

void observarAnuncios(ObservadorDeAnuncios o)
{
    observador() = std::move(o);
}

QString estadoDoIcone(const QLabel* icone)
{
    const QImage imagem = icone->pixmap().toImage();
    for (const Icone i : {Icone::Vazio, Icone::Processando, Icone::Feito, Icone::Erro}) {
        if (imagem == pixmapIcone(i).toImage()) {
            return textoDoEstado(i);
        }
    }
    return {};
}

void tornarAcessivel(QWidget* raiz)
{
    if (raiz->property(PropriedadeTratado).toBool()) {
        return;
    }
    raiz->setProperty(PropriedadeTratado, true);

    for (const Nome& n : Nomes) {
        for (QWidget* w : raiz->findChildren<QWidget*>(n.objeto)) {
            if (n.nome != nullptr && w->accessibleName().isEmpty()) {
                w->setAccessibleName(n.nome);
            }
            if (n.descricao != nullptr && w->accessibleDescription().isEmpty()) {
                w->setAccessibleDescription(n.descricao);
            }
        }
    }
    for (const Etapa& e : Etapas) {
        for (QLabel* icone : raiz->findChildren<QLabel*>(e.objeto)) {
            new Observador(icone);
        }
    }
    for (const char* nome : TextosAnunciados) {
        for (QLabel* texto : raiz->findChildren<QLabel*>(nome)) {
            new Observador(texto);
        }
    }
    // The button inside the file field, which shows only an icon, is named
    // by its tooltip without the key (which the description keeps).
    for (QLineEdit* campo : raiz->findChildren<QLineEdit*>()) {
        for (QToolButton* botao : campo->findChildren<QToolButton*>()) {
            const QString dica = botao->toolTip();
            if (botao->accessibleName().isEmpty() && !dica.isEmpty()) {
                botao->setAccessibleName(dica.section(" (", 0, 0));
                botao->setAccessibleDescription(dica);
            }
        }
    }
    // The print preview's printing and saving also have keys.
    const std::pair<const char*, QKeySequence> Teclas[] = {
        {"imprimirAction", QKeySequence(Qt::CTRL | Qt::Key_P)},
        {"salvarPdfAction", QKeySequence(Qt::CTRL | Qt::Key_S)},
    };
    for (const auto& [nome, tecla] : Teclas) {
        for (QAction* acao : raiz->findChildren<QAction*>(nome)) {
            if (acao->shortcut().isEmpty()) {
                acao->setShortcut(tecla);
            }
        }
    }
    // A drop-down list's items are read under the list's own name.
    for (QComboBox* lista : raiz->findChildren<QComboBox*>()) {
        if (QAbstractItemView* itens = lista->view(); itens != nullptr && itens->accessibleName().isEmpty()) {
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(lista);
            const QString nome = lista->accessibleName().isEmpty() && iface != nullptr ? iface->text(QAccessible::Name)
                                                                                       : lista->accessibleName();
            if (!nome.isEmpty() && nome != lista->currentText()) {
                itens->setAccessibleName(nome);
            }
        }
    }
    // A tool bar's fields: its page number and its zoom.
    for (QToolBar* barra : raiz->findChildren<QToolBar*>()) {
        for (QLineEdit* campo : barra->findChildren<QLineEdit*>()) {
            if (campo->accessibleName().isEmpty() && qobject_cast<QComboBox*>(campo->parentWidget()) == nullptr) {
                campo->setAccessibleName("Página atual");
            }
        }
        for (QComboBox* lista : barra->findChildren<QComboBox*>()) {
            if (lista->accessibleName().isEmpty()) {
                lista->setAccessibleName("Zoom");
                lista->view()->setAccessibleName("Zoom");
            }
        }
    }
    // Tool bar buttons take no focus of their own: Tab reaches them here.
    for (QToolBar* barra : raiz->findChildren<QToolBar*>()) {
        for (QAction* acao : barra->actions()) {
            if (auto* w = qobject_cast<QToolButton*>(barra->widgetForAction(acao));
                w != nullptr && w->focusPolicy() == Qt::NoFocus) {
                w->setFocusPolicy(Qt::TabFocus);
            }
            if (auto* botao = qobject_cast<QToolButton*>(barra->widgetForAction(acao));
                botao != nullptr && botao->accessibleName().isEmpty() && !acao->text().isEmpty()) {
                botao->setAccessibleName(QString(acao->text()).remove('&'));
            }
        }
    }
}

void focarPagina(QWidget* pagina)
{
    if (QWidget* w = controlePreferido(pagina)) {
        w->setFocus(Qt::OtherFocusReason);
    }
}

void focarAposBotao(QWidget* pagina, bool mudouEstado)
{
    if (mudouEstado) {
        focarPagina(pagina);
    } else {
        garantirFoco(pagina);
    }
}

void garantirFoco(QWidget* pagina)
{
    const QWidget* atual = pagina->window()->focusWidget();
    if (atual != nullptr && atual->isVisible() && atual->isEnabled()) {
        return;
    }
    focarPagina(pagina);
}

}  // namespace vek::ui::acessibilidade
