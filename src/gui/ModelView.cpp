#include "gui/ModelView.h"

#include <QFileInfo>
#include <QLabel>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <exception>
#include <new>
#include <numbers>

Q_DECLARE_METATYPE(std::shared_ptr<orolith::ViewMesh>)

namespace orolith {
namespace {

// OpenGL 2.1 and OpenGL ES 2 alike, so that Mesa's software renderer draws it. Faces are shaded
// flat from the derivatives of their positions: the file's corners are all the view needs.
constexpr const char* VertexShader = R"(
attribute highp vec3 corner;
uniform highp mat4 modelToEye;
uniform highp mat4 projection;
varying highp vec3 model;
varying highp vec3 eye;
void main() {
  model = corner;
  highp vec4 e = modelToEye * vec4(corner, 1.0);
  eye = e.xyz;
  gl_Position = projection * e;
}
)";

constexpr const char* FragmentShader = R"(
#ifdef GL_ES
#extension GL_OES_standard_derivatives : enable
precision highp float;
#endif
varying highp vec3 model;
varying highp vec3 eye;
uniform highp float low;
uniform highp float high;
void main() {
  // Both normals face the viewer: seen from below, a surface shows its underside lit alike.
  vec3 n = normalize(cross(dFdx(model), dFdy(model)));
  vec3 facing = normalize(cross(dFdx(eye), dFdy(eye)));
  float h = clamp((model.z - low) / max(high - low, 1e-6), 0.0, 1.0);
  vec3 colour = mix(vec3(0.33, 0.55, 0.30), vec3(0.62, 0.52, 0.36), smoothstep(0.0, 0.6, h));
  colour = mix(colour, vec3(0.96, 0.96, 0.97), smoothstep(0.7, 1.0, h));
  if (abs(n.z) < 0.05) {
    colour = vec3(0.74, 0.68, 0.58);
  } else if (n.z < -0.95) {
    colour = vec3(0.46, 0.50, 0.66);
  }
  // The sun in the north-west as on the map, and some light from the viewer.
  float light = 0.28 + 0.55 * max(dot(n, normalize(vec3(-0.5, 0.6, 0.8))), 0.0) +
                0.22 * max(facing.z, 0.0);
  gl_FragColor = vec4(colour * light, 1.0);
}
)";

constexpr float FirstYaw = -25;
constexpr float FirstPitch = -55;
// The view's vertical angle, in degrees.
constexpr float FieldOfView = 30;

QString Count(std::uint64_t n) {
  return QString::number(static_cast<qulonglong>(n));
}

// A length in millimetres, the model's units, with the user's separator.
QString Millimetres(double value, int decimals, char separator) {
  return QString::number(value, 'f', decimals).replace(QLatin1Char('.'), QLatin1Char(separator));
}

// The longest round length (1, 2 or 5 times a power of ten) not beyond most.
double RoundLength(double most) {
  const double power = std::pow(10.0, std::floor(std::log10(most)));
  for (const double step : {5.0, 2.0}) {
    if (step * power <= most) return step * power;
  }
  return power;
}

}  // namespace

TModelView::TModelView(QWidget* parent)
    : QOpenGLWidget(parent), note_(new QLabel(this)), scale_(new QLabel(this)) {
  qRegisterMetaType<std::shared_ptr<ViewMesh>>();
  reader_.setMaxThreadCount(1);
  setFocusPolicy(Qt::ClickFocus);
  note_->setStyleSheet(
      QStringLiteral("QLabel { background: rgba(255, 255, 255, 210); "
                     "color: black; padding: 3px; }"));
  note_->move(8, 8);
  note_->setText(QStringLiteral("\"Create STL File\" shows the model it makes here."));
  note_->adjustSize();
  // A bracket as wide as the length it names.
  scale_->setStyleSheet(
      QStringLiteral("QLabel { background: rgba(255, 255, 255, 210); color: black; "
                     "border: 2px solid black; border-top: none; padding: 0 3px; }"));
  scale_->setAlignment(Qt::AlignCenter);
  scale_->hide();
  connect(this, &TModelView::MeshRead, this, &TModelView::TakeMesh, Qt::QueuedConnection);
  ResetView();
}

TModelView::~TModelView() {
  if (stopReading_) stopReading_->store(true);
  reader_.clear();
  reader_.waitForDone();
  makeCurrent();
  ReleaseGl();
  doneCurrent();
  // The context goes with QOpenGLWidget's destructor, when this object is no more.
  if (context() != nullptr) disconnect(context(), nullptr, this, nullptr);
}

bool TModelView::CanDraw() {
  QOpenGLContext context;
  return context.create();
}

QString TModelView::Note() const {
  return note_->text();
}

QString TModelView::Scale() const {
  return scale_->isHidden() ? QString() : scale_->text();
}

int TModelView::ScaleWidth() const {
  return scale_->isHidden() ? 0 : scale_->width();
}

void TModelView::ShowModel(const QString& path) {
  // A reading still going on is for a file no longer wanted.
  if (stopReading_) stopReading_->store(true);
  stopReading_ = std::make_shared<std::atomic<bool>>(false);
  const quint64 number = ++readingNumber_;
  reading_ = true;
  fileName_ = QFileInfo(path).fileName();
  note_->setText(QStringLiteral("Reading %1 ...").arg(fileName_));
  note_->adjustSize();
  reader_.start([this, number, stop = stopReading_, file = path.toStdString(), budget = budget_] {
    std::shared_ptr<ViewMesh> mesh;
    QString failure;
    try {
      mesh = std::make_shared<ViewMesh>(ReadViewMesh(file, budget, stop.get()));
    } catch (const std::bad_alloc&) {
      failure = QStringLiteral("Out of memory");
    } catch (const std::exception& error) {
      failure = QString::fromStdString(error.what());
    }
    emit MeshRead(number, mesh, failure);
  });
}

void TModelView::TakeMesh(quint64 reading, const std::shared_ptr<ViewMesh>& mesh,
                          const QString& failure) {
  if (reading != readingNumber_) return;
  reading_ = false;
  if (!failure.isEmpty() || !mesh) {
    pending_.reset();
    triangles_ = 0;
    note_->setText(QStringLiteral("The model could not be read: %1").arg(failure));
  } else {
    pending_ = mesh;
    min_ = mesh->Min;
    max_ = mesh->Max;
    triangles_ = mesh->Triangles();
    const QString size = QStringLiteral("%1 %4 %2 %4 %3 mm")
                             .arg(Millimetres(max_[0] - min_[0], 1, separator_),
                                  Millimetres(max_[1] - min_[1], 1, separator_),
                                  Millimetres(max_[2] - min_[2], 1, separator_), QChar(0x00D7));
    note_->setText(
        mesh->Decimated
            ? QStringLiteral("%1: decimated for the view, %2 of %3 triangles, %4")
                  .arg(fileName_, Count(triangles_), Count(mesh->FileFaces), size)
            : QStringLiteral("%1: %2 triangles, %3").arg(fileName_, Count(triangles_), size));
  }
  note_->adjustSize();
  ResetView();
  update();
}

void TModelView::ResetView() {
  yaw_ = FirstYaw;
  pitch_ = FirstPitch;
  zoom_ = 1;
  pan_ = {};
  ShowScale();
  update();
}

float TModelView::Distance() const {
  // Far enough that the whole model fits across the narrower side of the view.
  const float aspect = static_cast<float>(width()) / static_cast<float>(std::max(height(), 1));
  return 2.6F * std::max(1.0F, 1.0F / aspect) / zoom_;
}

float TModelView::UnitsPerPixel() const {
  const auto halfAngle = FieldOfView * std::numbers::pi_v<float> / 360;
  return 2 * Distance() * std::tan(halfAngle) / static_cast<float>(std::max(height(), 1));
}

void TModelView::ShowScale() {
  if (triangles_ == 0) {
    scale_->hide();
    return;
  }
  // At the model's middle; nearer parts look larger, farther ones smaller.
  const double size = std::max({max_[0] - min_[0], max_[1] - min_[1], max_[2] - min_[2], 1e-6F});
  const double perPixel = static_cast<double>(UnitsPerPixel()) * size;
  const double length = RoundLength(120 * perPixel);
  scale_->setText(Millimetres(length, length < 1 ? 2 : 0, separator_) + QStringLiteral(" mm"));
  scale_->adjustSize();
  scale_->setFixedWidth(std::max(static_cast<int>(std::lround(length / perPixel)), 1));
  scale_->move(8, height() - scale_->height() - 8);
  scale_->show();
}

void TModelView::resizeGL(int /*width*/, int /*height*/) {
  ShowScale();
}

void TModelView::initializeGL() {
  initializeOpenGLFunctions();
  connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
    makeCurrent();
    ReleaseGl();
    doneCurrent();
  });
  program_ = std::make_unique<QOpenGLShaderProgram>();
  program_->addShaderFromSourceCode(QOpenGLShader::Vertex, VertexShader);
  program_->addShaderFromSourceCode(QOpenGLShader::Fragment, FragmentShader);
  program_->bindAttributeLocation("corner", 0);
  if (!program_->link()) {
    note_->setText(QStringLiteral("The 3D view needs OpenGL 2.1: %1").arg(program_->log()));
    note_->adjustSize();
    program_.reset();
  }
  glReady_ = true;
}

void TModelView::Upload() {
  if (!pending_) return;
  if (!corners_.isCreated()) corners_.create();
  corners_.bind();
  corners_.allocate(pending_->Corners.data(),
                    static_cast<int>(pending_->Corners.size() * sizeof(float)));
  corners_.release();
  // The graphics memory holds the corners now.
  pending_.reset();
}

void TModelView::ReleaseGl() {
  if (!glReady_) return;
  corners_.destroy();
  program_.reset();
  glReady_ = false;
}

QMatrix4x4 TModelView::ModelToEye() const {
  const float size = std::max({max_[0] - min_[0], max_[1] - min_[1], max_[2] - min_[2], 1e-6F});
  QMatrix4x4 m;
  m.translate(static_cast<float>(pan_.x()), static_cast<float>(pan_.y()), -Distance());
  m.rotate(pitch_, 1, 0, 0);
  m.rotate(yaw_, 0, 0, 1);
  m.scale(1.0F / size);
  m.translate(-(min_[0] + max_[0]) / 2, -(min_[1] + max_[1]) / 2, -(min_[2] + max_[2]) / 2);
  return m;
}

void TModelView::paintGL() {
  glClearColor(0.17F, 0.19F, 0.23F, 1.0F);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (!program_) return;
  Upload();
  if (triangles_ == 0 || !corners_.isCreated()) return;
  glEnable(GL_DEPTH_TEST);
  QMatrix4x4 projection;
  projection.perspective(FieldOfView,
                         static_cast<float>(width()) / static_cast<float>(std::max(height(), 1)),
                         0.01F, 100);
  program_->bind();
  program_->setUniformValue("modelToEye", ModelToEye());
  program_->setUniformValue("projection", projection);
  program_->setUniformValue("low", min_[2]);
  program_->setUniformValue("high", max_[2]);
  corners_.bind();
  program_->enableAttributeArray(0);
  program_->setAttributeBuffer(0, GL_FLOAT, 0, 3);
  glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(triangles_ * 3));
  program_->disableAttributeArray(0);
  corners_.release();
  program_->release();
}

void TModelView::mousePressEvent(QMouseEvent* event) {
  dragFrom_ = event->position();
}

void TModelView::mouseMoveEvent(QMouseEvent* event) {
  const QPointF moved = event->position() - dragFrom_;
  dragFrom_ = event->position();
  if ((event->buttons() & (Qt::RightButton | Qt::MiddleButton)) != 0) {
    // The model follows the pointer across the view.
    const double perPixel = UnitsPerPixel();
    pan_ += QPointF(moved.x() * perPixel, -moved.y() * perPixel);
  } else if ((event->buttons() & Qt::LeftButton) != 0) {
    yaw_ += static_cast<float>(moved.x()) * 0.5F;
    pitch_ = std::clamp(pitch_ + static_cast<float>(moved.y()) * 0.5F, -180.0F, 0.0F);
  } else {
    return;
  }
  update();
}

void TModelView::mouseDoubleClickEvent(QMouseEvent* /*event*/) {
  ResetView();
}

void TModelView::wheelEvent(QWheelEvent* event) {
  const double steps = event->angleDelta().y() / 120.0;
  const double before = UnitsPerPixel();
  zoom_ = std::clamp(zoom_ * static_cast<float>(std::pow(1.2, steps)), 0.3F, 30.0F);
  // What is under the pointer at the model's depth stays there.
  const double change = UnitsPerPixel() - before;
  const QPointF fromMiddle = event->position() - QPointF(width() / 2.0, height() / 2.0);
  pan_ += QPointF(fromMiddle.x() * change, -fromMiddle.y() * change);
  ShowScale();
  update();
  event->accept();
}

}  // namespace orolith
