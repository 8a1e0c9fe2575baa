#include "gui/qt_window.hpp"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

#include "gui/port_tiles.hpp"

namespace shoplink {

namespace {

// Station text is bytes; CR LF, a lone CR and a lone LF each end a line on screen.
QString screen_text(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return QString::fromLatin1(out.data(), static_cast<qsizetype>(out.size()));
}

void show_end(QPlainTextEdit* t) {
  t->moveCursor(QTextCursor::End);
  t->ensureCursorVisible();
}

// Shows `text` in `area`, appending when only text was added at the end.
void update_area(QPlainTextEdit* area, std::string& shown, const std::string& text) {
  if (text.size() >= shown.size() && text.compare(0, shown.size(), shown) == 0 &&
      (shown.empty() || shown.back() != '\r')) {
    QTextCursor c(area->document());
    c.movePosition(QTextCursor::End);
    c.insertText(screen_text(text.substr(shown.size())));
  } else {
    area->setPlainText(screen_text(text));
  }
  shown = text;
  show_end(area);
}

QFont fixed_font() {
  QFont f("Courier");
  f.setStyleHint(QFont::TypeWriter);
  return f;
}

}  // namespace

class LogViewer final : public QWidget {
 public:
  explicit LogViewer(std::function<void()>* on_closed)
      : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint), on_closed_(on_closed) {
    setWindowTitle("SHOPLINK System Log");
    setObjectName("Activity_form");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    Activity_txt = new QPlainTextEdit(this);
    Activity_txt->setObjectName("Activity_txt");
    Activity_txt->setReadOnly(true);
    Activity_txt->setFont(fixed_font());
    Activity_txt->setContextMenuPolicy(Qt::NoContextMenu);
    // One entry a line: a narrow window scrolls sideways rather than wrap an entry over three.
    Activity_txt->setLineWrapMode(QPlainTextEdit::NoWrap);
    // A window to look at: the keyboard, and with it the main window's access keys, stays
    // with the main window.
    Activity_txt->setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    layout->addWidget(Activity_txt);
  }
  std::function<void()> on_activated;
  QPlainTextEdit* Activity_txt;
  bool closing_by_menu = false;

 protected:
  void closeEvent(QCloseEvent* e) override {
    if (!closing_by_menu && on_closed_ && *on_closed_) (*on_closed_)();
    e->accept();
  }
  // A click on it (to scroll or select) hands the keyboard straight back.
  bool event(QEvent* e) override {
    const bool handled = QWidget::event(e);
    if (e->type() == QEvent::WindowActivate && on_activated) on_activated();
    return handled;
  }

 private:
  std::function<void()>* on_closed_;
};

int station_key_code(const QKeyEvent& e) {
  switch (e.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return 13;
    case Qt::Key_Escape:
      return 27;
    case Qt::Key_Backspace:
      return 8;
    case Qt::Key_Tab:
      return 9;
    default:
      break;
  }
  if ((e.modifiers() & Qt::ControlModifier) && e.key() >= Qt::Key_A && e.key() <= Qt::Key_Z)
    return e.key() - Qt::Key_A + 1;
  const QString t = e.text();
  if (t.isEmpty()) return -1;
  const char16_t c = t.at(0).unicode();
  return c < 256 ? static_cast<int>(c) : -1;
}

QtWindow::QtWindow() {
  setObjectName("Main_form");
  area_refresh_ = new QTimer(this);
  area_refresh_->setSingleShot(true);
  area_refresh_->setInterval(kAreaRefreshMs);
  connect(area_refresh_, &QTimer::timeout, this, [this] { refresh_areas(); });
  auto* central = new QWidget(this);
  auto* grid = new QGridLayout(central);

  status_label_ = new QLabel(" Status: ");
  status_txt_ = new QLineEdit;
  status_txt_->setObjectName("status_txt");
  status_txt_->setReadOnly(true);
  port_label_ = new QLabel(" Port#");
  port_txt_ = new QLineEdit;
  port_txt_->setObjectName("port_txt");
  port_txt_->setReadOnly(true);
  port_txt_->setMaximumWidth(60);
  // The selector sits at the middle of a three-step range: each arrow is one step either way.
  VScroll1_ = new QScrollBar(Qt::Vertical);
  VScroll1_->setObjectName("VScroll1");
  VScroll1_->setRange(0, 2);
  VScroll1_->setValue(1);
  VScroll1_->setFixedHeight(36);
  Machine_txt_ = new QLineEdit;
  Machine_txt_->setObjectName("Machine_txt");
  Machine_txt_->setReadOnly(true);
  CTS_LED_ = new QLabel("CTS");
  CTS_LED_->setObjectName("CTS_LED");
  CTS_LED_->setAlignment(Qt::AlignCenter);
  CTS_LED_->setFixedSize(48, 36);
  label_out_ = new QLabel("Data going out ...");
  label_in_ = new QLabel("Data coming in ...");
  term_txt_ = new QPlainTextEdit;
  term_txt_->setObjectName("term_txt");
  input_txt_ = new QPlainTextEdit;
  input_txt_->setObjectName("input_txt");
  for (auto* t : {term_txt_, input_txt_}) {
    t->setReadOnly(true);
    t->setFont(fixed_font());
    t->setContextMenuPolicy(Qt::NoContextMenu);  // its menu would run a loop of its own
    t->setFocusPolicy(Qt::NoFocus);
  }
  // Every key typed while this window has the keyboard goes to the station, whichever of
  // its widgets holds the focus (none, the menu bar after a menu, the terminal area): the
  // operator's keys work in every state, also after a dialog or message box has closed.
  qApp->installEventFilter(this);
  auto* divider = new QFrame;
  divider->setFrameShape(QFrame::HLine);
  line_ = divider;
  Command1_ = new QPushButton("Send now");
  Command1_->setObjectName("Command1");
  Command2_ = new QPushButton("Stop");
  Command2_->setObjectName("Command2");
  tiles_ = new PortTiles;
  tiles_->on_click = [this](int port) {
    if (commands_.port_tile) commands_.port_tile(port);
  };
  for (QWidget* w : std::initializer_list<QWidget*>{status_txt_, port_txt_, Machine_txt_, VScroll1_,
                                                    Command1_, Command2_})
    w->setFocusPolicy(Qt::NoFocus);

  auto* top = new QHBoxLayout;
  top->addWidget(status_label_);
  top->addWidget(status_txt_, 1);
  top->addWidget(port_label_);
  top->addWidget(port_txt_);
  top->addWidget(VScroll1_);
  top->addWidget(Machine_txt_);
  top->addWidget(CTS_LED_);
  grid->addLayout(top, 0, 0, 1, 2);
  grid->addWidget(divider, 1, 0, 1, 2);
  grid->addWidget(label_out_, 2, 0);
  grid->addWidget(label_in_, 2, 1);
  grid->addWidget(term_txt_, 3, 0);
  grid->addWidget(input_txt_, 3, 1);
  grid->addWidget(tiles_, 4, 0, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Command1_);
  buttons->addWidget(Command2_);
  grid->addLayout(buttons, 5, 0, 1, 2);
  // The text areas take the height; with them hidden (Enter Password) the space below them
  // does, so the top row stays at the top.
  grid->setRowStretch(3, 1);
  grid->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), 6, 0, 1, 2);
  // The top row keeps its place: fields that come and go keep their room while hidden.
  for (QWidget* w : std::initializer_list<QWidget*>{VScroll1_, Machine_txt_}) {
    QSizePolicy p = w->sizePolicy();
    p.setRetainSizeWhenHidden(true);
    w->setSizePolicy(p);
  }
  setCentralWidget(central);

  build_menus();
  set_cts_lamp(false);
  Command1_->hide();
  Command2_->hide();
  Machine_txt_->hide();

  connect(VScroll1_, &QScrollBar::valueChanged, this, [this](int v) {
    const int delta = v - 1;
    {
      const QSignalBlocker block(VScroll1_);
      VScroll1_->setValue(1);
    }
    if (delta != 0 && commands_.selector) commands_.selector(delta);
  });
  connect(Command1_, &QPushButton::clicked, this, [this] {
    if (commands_.send_now) commands_.send_now();
  });
  connect(Command2_, &QPushButton::clicked, this, [this] {
    if (commands_.stop) commands_.stop();
  });
  viewer_ = new LogViewer(&commands_.log_viewer_closed);
  viewer_->on_activated = [this] {
    if (isVisible()) activateWindow();
  };
}

QtWindow::~QtWindow() {
  delete viewer_;
  delete boot_error_;
  delete splash_;
}

QWidget* QtWindow::log_viewer() const {
  return viewer_;
}

void QtWindow::build_menus() {
  struct Item {
    Menu m;
    const char* caption;
  };
  auto add = [this](QMenu* menu, Menu m, const char* caption) {
    QAction* a = menu->addAction(QString::fromLatin1(caption));
    actions_[m] = a;
    connect(a, &QAction::triggered, this, [this, m] {
      if (commands_.menu) commands_.menu(m);
    });
    return a;
  };
  QMenu* mode = menuBar()->addMenu("&Mode");
  add(mode, Menu::mode_scan, "S&canning");
  add(mode, Menu::mode_send, "&Send file");
  add(mode, Menu::mode_receive, "&Receive file");
  add(mode, Menu::mode_terminal, "&Terminal");
  add(mode, Menu::mode_exit, "E&xit");
  QMenu* editor = menuBar()->addMenu("&Text Editor");
  const char* edits[] = {"&SHOPLINK files", "&ASCII files", ".&TXT files", "&DNCDATA",
                         "&System log"};
  for (int i = 0; i < 5; ++i) {
    QAction* a = editor->addAction(QString::fromLatin1(edits[i]));
    connect(a, &QAction::triggered, this, [this, i] {
      if (commands_.edit) commands_.edit(i);
    });
  }
  QMenu* conf = menuBar()->addMenu("&Configure");
  add(conf, Menu::conf_host, "&Host port");
  add(conf, Menu::conf_output, "&Output port");
  add(conf, Menu::conf_terminal, "Terminal");
  add(conf, Menu::conf_password_change, "&Change Password");
  add(conf, Menu::conf_password, "&Enter Password");
  QMenu* view = menuBar()->addMenu("&View");
  add(view, Menu::view_show, "&Scroll I/O data")->setCheckable(true);
  add(view, Menu::View_Log, "&Display System Log")->setCheckable(true);
  // Beyond the station's own menus: the journal's program history.
  view->addSeparator();
  history_action_ = view->addAction("&History...");
  connect(history_action_, &QAction::triggered, this, [this] {
    if (commands_.history) commands_.history();
  });
}

QWidget* QtWindow::widget_of(Element e) const {
  switch (e) {
    case Element::TerminalDisplay:
      return term_txt_;
    case Element::InputDisplay:
      return input_txt_;
    case Element::TerminalLabel:
      return label_out_;
    case Element::InputLabel:
      return label_in_;
    case Element::TerminalScrollBar:
      return term_txt_->verticalScrollBar();
    case Element::MachineEntry:
      return Machine_txt_;
    case Element::PortSelector:
      return VScroll1_;
    case Element::SendNowButton:
      return Command1_;
    case Element::StopButton:
      return Command2_;
    case Element::DividingLine:
      return line_;
    case Element::CtsLamp:
      return CTS_LED_;
  }
  return nullptr;
}

void QtWindow::set_title(const std::string& title) {
  WindowModel::set_title(title);
  setWindowTitle(QString::fromLatin1(title.c_str()));
}

void QtWindow::set_status(const std::string& text) {
  WindowModel::set_status(text);
  status_txt_->setText(QString::fromLatin1(status().c_str()));
}

void QtWindow::refresh_areas() {
  if (term_dirty_) update_area(term_txt_, shown_[Field::Terminal], text(Field::Terminal));
  if (input_dirty_) update_area(input_txt_, shown_[Field::Input], text(Field::Input));
  term_dirty_ = input_dirty_ = false;
}

void QtWindow::set_text(Field f, const std::string& text) {
  WindowModel::set_text(f, text);
  switch (f) {
    case Field::Terminal:
    case Field::Input:
      (f == Field::Terminal ? term_dirty_ : input_dirty_) = true;
      if (!area_refresh_->isActive()) area_refresh_->start();
      break;
    case Field::MachineEntry:
      Machine_txt_->setText(QString::fromLatin1(text.c_str()));
      break;
    case Field::PortDisplay:
      port_txt_->setText(QString::fromLatin1(text.c_str()));
      break;
  }
}

void QtWindow::set_visible(Element e, bool v) {
  WindowModel::set_visible(e, v);
  if (e == Element::TerminalScrollBar) {
    term_txt_->setVerticalScrollBarPolicy(v ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    return;
  }
  if (QWidget* w = widget_of(e)) w->setVisible(v);
  // The tiles sit under the text areas and go with them (Enter Password hides both).
  if (e == Element::InputDisplay) tiles_->setVisible(v);
}

void QtWindow::show_ports(const StationSnapshot& snap) {
  tiles_->show_snapshot(snap);
}

void QtWindow::set_editable(Field f, bool e) {
  WindowModel::set_editable(f, e);
  if (f != Field::Terminal) return;
  term_txt_->setReadOnly(!e);
  term_txt_->setFocusPolicy(e ? Qt::StrongFocus : Qt::NoFocus);
  if (e) term_txt_->setFocus();
}

void QtWindow::set_menu_enabled(Menu m, bool e) {
  WindowModel::set_menu_enabled(m, e);
  actions_.at(m)->setEnabled(e);
}

void QtWindow::set_menu_checked(Menu m, bool c) {
  WindowModel::set_menu_checked(m, c);
  actions_.at(m)->setChecked(c);
}

void QtWindow::set_cts_lamp(bool lit) {
  set_line_lamp(lit ? LineLamp::CtsOn : LineLamp::CtsOff);
}

void QtWindow::set_line_lamp(LineLamp lamp) {
  if (lamp == line_lamp() && !CTS_LED_->styleSheet().isEmpty()) return;
  WindowModel::set_line_lamp(lamp);
  struct Look {
    const char* text;
    const char* style;
    const char* tip;
  };
  // A line that is down never looks like one that is up: its own word and colour.
  static const std::map<LineLamp, Look> kLooks = {
      {LineLamp::CtsOn,
       {"CTS", "background: #20c020; color: black; border: 1px solid gray;", "CTS on"}},
      {LineLamp::CtsOff,
       {"CTS", "background: #600000; color: #c0c0c0; border: 1px solid gray;", "CTS off"}},
      {LineLamp::Reconnecting,
       {"LOST", "background: #f0b000; color: black; border: 2px solid black; font-weight: bold;",
        "Host line connection lost - reconnecting"}},
      {LineLamp::Dead,
       {"DEAD", "background: #e00000; color: white; border: 2px solid black; font-weight: bold;",
        "Host line dead - it takes no output"}},
  };
  const Look& look = kLooks.at(lamp);
  CTS_LED_->setText(look.text);
  CTS_LED_->setStyleSheet(look.style);
  CTS_LED_->setToolTip(look.tip);
}

void QtWindow::center_three_quarters() {
  const QRect screen = QApplication::primaryScreen()->availableGeometry();
  const int w = screen.width() * 3 / 4, h = screen.height() * 3 / 4;
  set_geometry(
      {screen.x() + (screen.width() - w) / 2, screen.y() + (screen.height() - h) / 2, w, h});
}

WindowGeometry QtWindow::geometry() const {
  const QRect r = QMainWindow::geometry();
  return {r.x(), r.y(), r.width(), r.height()};
}

void QtWindow::set_geometry(const WindowGeometry& g) {
  WindowModel::set_geometry(g);
  // A placement saved on a larger screen must not put the window out of reach.
  if (g.width > 100 && g.height > 100) setGeometry(g.left, g.top, g.width, g.height);
}

WindowState QtWindow::window_state() const {
  if (isMinimized()) return WindowState::Minimized;
  if (isMaximized()) return WindowState::Maximized;
  return WindowState::Normal;
}

void QtWindow::show_splash(bool shown) {
  WindowModel::show_splash(shown);
  if (!shown) {
    if (splash_) splash_->hide();
    return;
  }
  if (!splash_) {
    auto* d = new QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
    d->setObjectName("splash");
    d->setWindowTitle(QString(19, ' ') + "Power up message");
    auto* l = new QVBoxLayout(d);
    auto* text = new QLabel(
        "SHOPLINK DNC communications station\n\nStarting up: reading the "
        "configuration, then scanning the port controller ...");
    text->setAlignment(Qt::AlignCenter);
    l->addWidget(text);
    d->resize(420, 140);
    splash_ = d;
  }
  // The station's own splash timer closes it after 5000 ms.
  splash_->show();
  splash_->raise();
}

void QtWindow::show_scan_failure(const std::string& help_text) {
  WindowModel::show_scan_failure(help_text);
  if (!boot_error_) {
    auto* d = new QWidget(nullptr, Qt::Window);
    d->setObjectName("Boot_error_form");
    d->setWindowTitle("SHOPLINK error message");
    auto* l = new QVBoxLayout(d);
    auto* text = new QPlainTextEdit;
    text->setObjectName("Text1");
    text->setReadOnly(true);
    text->setFont(fixed_font());
    text->setStyleSheet("color: blue; background: white;");
    text->setContextMenuPolicy(Qt::NoContextMenu);
    l->addWidget(text);
    auto* row = new QHBoxLayout;
    auto button = [&](const char* name, const char* caption, std::function<void()>* command) {
      auto* b = new QPushButton(caption);
      b->setObjectName(name);
      row->addWidget(b);
      connect(b, &QPushButton::clicked, this, [this, command, name] {
        boot_error_->hide();
        WindowModel::close_secondary_windows();
        (void)name;
        if (*command) (*command)();
      });
    };
    button("Edit_button", "Editor", &commands_.scan_failure_editor);
    button("Terminal_button", "Terminal", &commands_.scan_failure_terminal);
    button("Exit_button", "Exit", &commands_.scan_failure_exit);
    l->addLayout(row);
    d->resize(560, 560);
    boot_error_ = d;
  }
  boot_error_->findChild<QPlainTextEdit*>("Text1")->setPlainText(screen_text(help_text));
  boot_error_->show();
  boot_error_->raise();
}

void QtWindow::close_secondary_windows() {
  WindowModel::close_secondary_windows();
  for (QWidget* w : {splash_, boot_error_})
    if (w) w->hide();
  viewer_->closing_by_menu = true;
  viewer_->hide();
  viewer_->closing_by_menu = false;
}

void QtWindow::log_viewer_append(const std::string& text) {
  QTextCursor c(viewer_->Activity_txt->document());
  c.movePosition(QTextCursor::End);
  c.insertText(screen_text(text));
  show_end(viewer_->Activity_txt);
}

void QtWindow::log_viewer_load(const std::string& text) {
  viewer_->Activity_txt->setPlainText(screen_text(text));
  show_end(viewer_->Activity_txt);
}

void QtWindow::show_log_viewer(bool shown) {
  if (!shown) {
    viewer_->closing_by_menu = true;
    viewer_->close();
    viewer_->closing_by_menu = false;
    return;
  }
  const QRect screen = QApplication::primaryScreen()->availableGeometry();
  viewer_->setGeometry(screen.x() + screen.width() / 2, screen.y() + screen.height() * 2 / 3,
                       screen.width() / 4, screen.height() / 6);
  viewer_->show();
  viewer_->raise();
}

bool QtWindow::station_key(QObject* watched, const QKeyEvent& k) {
  auto* w = qobject_cast<QWidget*>(watched);
  if (w == nullptr || w->window() != this) return false;
  // Alt and the menus' access keys, and the menu bar while the arrow keys walk it, stay Qt's.
  if (k.modifiers() & (Qt::AltModifier | Qt::MetaModifier)) return false;
  if (auto* bar = qobject_cast<QMenuBar*>(w); bar != nullptr && bar->activeAction() != nullptr)
    return false;
  const int code = station_key_code(k);
  if (code < 0) return false;
  if (commands_.terminal_mode && commands_.terminal_mode()) {
    if (commands_.terminal_key) commands_.terminal_key(code);
  } else if (commands_.key) {
    commands_.key(code);
  }
  return true;  // the station draws what the key shows
}

bool QtWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress)
    return station_key(watched, *static_cast<QKeyEvent*>(event));
  if (event->type() == QEvent::MouseButtonPress &&
      (watched == term_txt_ || watched == term_txt_->viewport())) {
    if (commands_.terminal_click) commands_.terminal_click();
  }
  return QMainWindow::eventFilter(watched, event);
}

void QtWindow::closeEvent(QCloseEvent* e) {
  // The station decides: it shuts down and then the window goes.
  if (commands_.close_requested && !closing_) {
    if (commands_.may_quit && !commands_.may_quit()) {
      e->ignore();
      return;
    }
    closing_ = true;
    commands_.close_requested();
  }
  e->accept();
}

}  // namespace shoplink
