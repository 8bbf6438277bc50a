// The Python half of Python3Entity's image and column members: what
// matplotlib, Pillow, numpy and pandas are asked, written in Python since
// those packages have no C API of their own. Run at every start into the
// module named kDataToolsModule, which sys.modules keeps for the members.
#pragma once

constexpr char kDataToolsModule[] = "_python3plugin_data";

constexpr char kDataToolsSource[] = R"(
import sys as _sys
import os as _os

_FORMATS = {'': 'png', 'png': 'png', 'jpeg': 'jpeg', 'jpg': 'jpeg'}


def _format_of(name):
    try:
        return _FORMATS[name.lower()]
    except KeyError:
        raise ValueError('ImageData: the format is "png" or "jpeg" (empty for png), not %r' % name) from None


def _needs_pillow(member, what=''):
    return ImportError('%s needs Pillow (the Python package PIL)%s, which is not installed' % (member, what))


def _pillow(member, what=''):
    try:
        from PIL import Image
    except ImportError:
        raise _needs_pillow(member, what) from None
    return Image


def _type_name(value):
    kind = type(value)
    module = getattr(kind, '__module__', None)
    name = getattr(kind, '__qualname__', None) or getattr(kind, '__name__', '?')
    return name if module in (None, 'builtins') or not isinstance(module, str) else module + '.' + name


def _encoded(image, fmt):
    import io
    if fmt == 'jpeg' and image.mode not in ('L', 'RGB', 'CMYK'):
        image = image.convert('RGB')  # JPEG keeps no transparency
    out = io.BytesIO()
    image.save(out, format='PNG' if fmt == 'png' else 'JPEG')
    return out.getvalue()


def _figure(figure, fmt):
    import io
    out = io.BytesIO()
    # Agg whatever canvas the figure has: a GUI canvas cannot draw off its
    # window's thread, and print_figure gives the figure its own back.
    try:
        figure.savefig(out, format=fmt, dpi='figure', backend='agg')
    except ImportError as error:
        if (getattr(error, 'name', None) or '').split('.')[0] == 'PIL' or 'PIL' in str(error):
            raise _needs_pillow('ImageData', ' for JPEG') from None
        raise
    return out.getvalue()


def _array(numpy, array, fmt):
    if array.dtype != numpy.uint8:
        raise TypeError('ImageData: an array of %s is no image (its items must be uint8)' % array.dtype)
    if not (array.ndim == 2 or (array.ndim == 3 and array.shape[2] in (3, 4))):
        raise ValueError('ImageData: an array shaped %s is no image (H x W grey, H x W x 3 RGB or H x W x 4 RGBA)'
                         % (array.shape,))
    if array.shape[0] == 0 or array.shape[1] == 0:
        raise ValueError('ImageData: an array shaped %s has no pixels' % (array.shape,))
    Image = _pillow('ImageData', ' to encode an array')
    mode = {2: 'L', 3: 'RGB', 4: 'RGBA'}[array.shape[2] if array.ndim == 3 else 2]
    return _encoded(Image.fromarray(numpy.ascontiguousarray(array), mode), fmt)


def _bytes_of(data, method):
    if isinstance(data, tuple) and data:
        data = data[0]  # (data, metadata)
    if isinstance(data, str):
        import base64
        data = base64.b64decode(data)
    if not isinstance(data, (bytes, bytearray, memoryview)) or not len(data):
        raise TypeError('ImageData: %s returned no image bytes' % method)
    return bytes(data)


def image_data(value, fmt):
    fmt = _format_of(fmt)
    figure = _sys.modules.get('matplotlib.figure')
    if figure is not None and isinstance(value, figure.Figure):
        return _figure(value, fmt)
    pil = _sys.modules.get('PIL.Image')
    if pil is not None and isinstance(value, pil.Image):
        return _encoded(value, fmt)
    numpy = _sys.modules.get('numpy')
    if numpy is not None and isinstance(value, numpy.ndarray):
        return _array(numpy, value, fmt)
    method = '_repr_%s_' % fmt
    found = getattr(value, method, None)
    if found is not None and callable(found):
        return _bytes_of(found(), method)
    raise TypeError('ImageData: a value of type %s is no image (a matplotlib Figure, a Pillow Image, a numpy array of uint8, '
                    'or an object with %s)' % (_type_name(value), method))


def from_image_data(data):
    Image = _pillow('FromImageData')
    import io
    if not data:
        raise ValueError('FromImageData: the MemoryBlock is empty')
    try:
        image = Image.open(io.BytesIO(data), formats=('PNG', 'JPEG'))
        image.load()  # decoded now: a truncated file fails here, not later in the application
    except Exception as error:
        raise ValueError('FromImageData: the bytes are no PNG or JPEG image (%s: %s)'
                         % (type(error).__name__, error)) from None
    return image


def _frame(value):
    pandas = _sys.modules.get('pandas')
    return pandas is not None and isinstance(value, pandas.DataFrame)


def _structured(value):
    numpy = _sys.modules.get('numpy')
    return numpy is not None and isinstance(value, numpy.ndarray) and value.dtype.names is not None


def _labels(value):
    if _frame(value):
        return list(value.columns)
    if _structured(value):
        return list(value.dtype.names)
    keys = getattr(value, 'keys', None)
    if keys is None or not callable(keys):
        raise TypeError('a value of type %s is no table (a pandas DataFrame, a numpy structured array or a mapping of columns)'
                        % _type_name(value))
    return list(keys())


def column_names(value):
    return [label if isinstance(label, str) else str(label) for label in _labels(value)]


def _text(values):
    return ['' if item is None or item != item else item if isinstance(item, str) else str(item) for item in values]


def _contiguous(numpy, array):
    if array.dtype.kind in 'biufc':
        return numpy.ascontiguousarray(array)
    if array.dtype.kind in 'mM':
        return numpy.ascontiguousarray(array).view('int64')  # ticks of the dtype's unit
    return None


def column(value, name):
    labels = _labels(value)
    label = name if name in labels else None
    if label is None:
        found = [each for each in labels if str(each) == name]
        if not found:
            raise KeyError('no column named %r' % name)
        label = found[0]
    numpy = _sys.modules.get('numpy')
    if _frame(value):
        series = value[label]
        if getattr(series, 'ndim', 1) != 1:
            raise ValueError('%r names more than one column' % name)
        dtype = series.dtype
        if numpy is not None and getattr(dtype, 'kind', 'O') in 'biufcmM' and isinstance(dtype, numpy.dtype):
            return _contiguous(numpy, series.to_numpy())
        if getattr(dtype, '_is_numeric', False) and not getattr(dtype, '_is_boolean', False):
            return series.to_numpy(dtype='float64', na_value=numpy.nan)  # nullable integers: missing as NaN
        if series.dtype == object or str(dtype) in ('string', 'category'):
            return series.astype(object).where(series.notna(), '').astype(str).tolist()
        return series.astype(str).tolist()
    data = value[label]
    if numpy is not None and isinstance(data, numpy.ndarray):
        if data.ndim != 1:
            data = data.reshape(-1)
        array = _contiguous(numpy, data)
        return array if array is not None else _text(data.tolist())
    if isinstance(data, (bytes, bytearray, memoryview, str)) or not hasattr(data, '__iter__'):
        raise TypeError('column %r is a %s, not a sequence of values' % (name, _type_name(data)))
    items = list(data)
    if items and all(type(item) in (int, float, bool) for item in items):
        if numpy is not None:
            return numpy.asarray(items)
        import array
        return array.array('d', items)
    return _text(items)


class _AggLoader:
    """matplotlib's own loader, which then makes Agg the default backend."""

    def __init__(self, loader):
        self._loader = loader

    def __getattr__(self, name):
        return getattr(self._loader, name)

    def create_module(self, module_spec):
        return self._loader.create_module(module_spec)

    def exec_module(self, module):
        self._loader.exec_module(module)
        if not _os.environ.get('MPLBACKEND'):
            module.rcParams['backend'] = 'agg'


class _AggByDefault:
    """Embedded, matplotlib draws with Agg unless MPLBACKEND or the program's
    own matplotlib.use() says otherwise: the application's windows are not
    Python's, and its event loop (Cocoa's, say) would draw a GUI backend into
    a window the application does not run, or block plt.show()."""

    def find_spec(self, name, path=None, target=None):
        if name != 'matplotlib':
            return None
        _sys.meta_path.remove(self)
        import importlib.util
        module_spec = importlib.util.find_spec(name)
        if module_spec is not None and module_spec.loader is not None and hasattr(module_spec.loader, 'exec_module'):
            module_spec.loader = _AggLoader(module_spec.loader)
        return module_spec


if 'matplotlib' not in _sys.modules:
    _sys.meta_path.insert(0, _AggByDefault())
)";
