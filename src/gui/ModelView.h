#pragma once

#include "preview/ViewMesh.h"

#include <QMatrix4x4>
#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>
#include <QPointF>
#include <QThreadPool>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

class QLabel;

namespace orolith {

// The 3D view of the model last written, binary STL or 3MF: lit and shaded, walls and floor
// with it when it is a solid. A left drag turns it, a right or middle drag moves it, the wheel
// zooms towards the pointer, a double click brings the first view back. The corner gives the
// model's size in millimetres, a bar the scale at the model's middle. The file is read on a
// thread of its own; a model beyond the view's budget is shown decimated, and the corner says
// so.
class TModelView : public QOpenGLWidget, protected QOpenGLFunctions {
  Q_OBJECT

 public:
  explicit TModelView(QWidget* parent = nullptr);
  ~TModelView() override;

  // Whether the display gives OpenGL at all: a window holding the view can't be shown where it
  // doesn't.
  static bool CanDraw();

  // Reads the model file at path and shows it in place of the model shown so far. A file that
  // can't be read is said in the corner.
  void ShowModel(const QString& path);
  void SetTriangleBudget(std::uint64_t budget) { budget_ = budget; }
  // For the numbers in the corner.
  void SetDecimalSeparator(char separator) { separator_ = separator; }
  void ResetView();

  bool Reading() const { return reading_; }
  // Triangles drawn; 0 while there is no model.
  std::uint64_t TrianglesShown() const { return triangles_; }
  // The text in the corner, and the scale bar's.
  QString Note() const;
  QString Scale() const;
  // The scale bar's length in pixels.
  int ScaleWidth() const;

 signals:
  // From the reading thread to this object's own, with the file it answers.
  void MeshRead(quint64 reading, std::shared_ptr<orolith::ViewMesh> mesh, QString failure);

 protected:
  void initializeGL() override;
  void paintGL() override;
  void resizeGL(int width, int height) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void TakeMesh(quint64 reading, const std::shared_ptr<ViewMesh>& mesh, const QString& failure);
  void Upload();
  void ReleaseGl();
  QMatrix4x4 ModelToEye() const;
  // How far the eye stands from the model's middle, in the view's units (the model's largest
  // extent is one), and how many of them one pixel spans at that distance.
  float Distance() const;
  float UnitsPerPixel() const;
  void ShowScale();

  QThreadPool reader_;
  std::shared_ptr<std::atomic<bool>> stopReading_;
  // Which reading the view waits for: an older one's mesh is dropped.
  quint64 readingNumber_ = 0;
  bool reading_ = false;
  QString fileName_;
  std::uint64_t budget_ = ViewTriangleBudget;

  // The mesh waiting to go to the graphics memory, then released.
  std::shared_ptr<ViewMesh> pending_;
  std::array<float, 3> min_{};
  std::array<float, 3> max_{};
  std::uint64_t triangles_ = 0;

  std::unique_ptr<QOpenGLShaderProgram> program_;
  QOpenGLBuffer corners_{QOpenGLBuffer::VertexBuffer};
  bool glReady_ = false;

  float yaw_ = 0;
  float pitch_ = 0;
  float zoom_ = 1;
  // Where the model's middle is moved to across the view, in the view's units.
  QPointF pan_;
  QPointF dragFrom_;
  char separator_ = '.';
  QLabel* note_;
  QLabel* scale_;
};

}  // namespace orolith
