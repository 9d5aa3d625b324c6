"""The Python face of _ztxReader: function table, argument conversions, the
exact exception types and texts, result shapes, and module import."""
import os
import shutil
import subprocess
import sys

import numpy as np
import pytest

import _ztxReader
import ztxReader

OVERLOAD_TEXT = (
    "Wrong number or type of arguments for overloaded function 'reader_ReadInfo'.\n"
    "  Possible C/C++ prototypes are:\n"
    "    lumora::reader::ReadInfo(std::string const &,double const,bool)\n"
    "    lumora::reader::ReadInfo(std::string const &,double const)\n"
    "    lumora::reader::ReadInfo(std::string const &)\n")

FUNCTIONS = ['SWIG_PyInstanceMethod_New', 'new_reader', 'delete_reader', 'reader_ReadInfo',
             'reader_ReadRoi', 'reader_ReadPreview', 'reader_getWidth', 'reader_getHeight',
             'reader_getReadScale', 'reader_setReadScale', 'reader_readLabelImage',
             'reader_clear', 'reader_swigregister']

METHODS = ['ReadInfo', 'ReadRoi', 'ReadPreview', 'getWidth', 'getHeight', 'getReadScale',
           'setReadScale', 'readLabelImage', 'clear']


def message(name, argument, kind):
    return f"in method '{name}', argument {argument} of type '{kind}'"


@pytest.fixture
def r():
    return ztxReader.reader()


def test_module_functions_and_class_methods():
    for name in FUNCTIONS:
        assert callable(getattr(_ztxReader, name)), name
    for name in METHODS:
        assert callable(getattr(ztxReader.reader, name)), name
    assert _ztxReader.__name__ == '_ztxReader'


def raises(kind, text, function, *args):
    with pytest.raises(kind) as caught:
        function(*args)
    assert type(caught.value) is kind
    assert str(caught.value) == text


NOT_A_READER = [object(), None, 5, 'reader']


@pytest.mark.parametrize('value', NOT_A_READER, ids=repr)
@pytest.mark.parametrize('name,kind,extra', [
    ('reader_ReadRoi', 'lumora::reader *', (0, 0, 1, 1, 20.0)),
    ('reader_ReadPreview', 'lumora::reader *', ()),
    ('reader_getWidth', 'lumora::reader const *', ()),
    ('reader_getHeight', 'lumora::reader const *', ()),
    ('reader_getReadScale', 'lumora::reader *', ()),
    ('reader_setReadScale', 'lumora::reader *', (20.0,)),
    ('reader_readLabelImage', 'lumora::reader *', ()),
    ('reader_clear', 'lumora::reader *', ()),
])
def test_argument_one_must_be_a_reader(value, name, kind, extra):
    raises(TypeError, message(name, 1, kind), getattr(_ztxReader, name), value, *extra)


@pytest.mark.parametrize('value', NOT_A_READER, ids=repr)
def test_read_info_argument_one_must_be_a_reader(value):
    if value is None:
        raises(TypeError, message('reader_ReadInfo', 1, 'lumora::reader *'),
               _ztxReader.reader_ReadInfo, value, 'a.ztx')
    else:
        raises(NotImplementedError, OVERLOAD_TEXT, _ztxReader.reader_ReadInfo, value, 'a.ztx')


def test_delete_reader_refuses_other_objects():
    raises(TypeError, message('delete_reader', 1, 'lumora::reader *'),
           _ztxReader.delete_reader, object())


def test_delete_reader_of_none_does_nothing():
    assert _ztxReader.delete_reader(None) is None


def test_delete_reader_takes_ownership_once():
    handle = _ztxReader.new_reader()
    assert _ztxReader.delete_reader(handle) is None
    assert not handle.own()


@pytest.mark.parametrize('args', [
    (),
    ('a.ztx', 1.0, 1),          # an int where a bool is required
    (b'a.ztx',),                # bytes are not a path
    ('a.ztx', '20'),
    ('a.ztx', 1.0, True, 5),    # one too many
    (5,),
], ids=repr)
def test_read_info_overload_mismatch(r, args):
    raises(NotImplementedError, OVERLOAD_TEXT, _ztxReader.reader_ReadInfo, r, *args)


def test_read_info_of_none_path(r):
    raises(ValueError,
           "invalid null reference in method 'reader_ReadInfo', argument 2 of type "
           "'std::string const &'", _ztxReader.reader_ReadInfo, r, None)


@pytest.mark.parametrize('scale', [20, True, 20.0, 0], ids=repr)
def test_read_info_accepts_int_and_float_scales(r, scale, capfd):
    assert _ztxReader.reader_ReadInfo(r, 'missing.ZTX', scale) is False
    assert _ztxReader.reader_ReadInfo(r, 'missing.ZTX', scale, False) is False
    assert 'missing.ZTX not a ztx file.' in capfd.readouterr().err


@pytest.mark.parametrize('position,bad,kind', [
    (2, 1.5, TypeError), (2, '1', TypeError), (2, 2 ** 31, OverflowError),
    (2, -2 ** 31 - 1, OverflowError),
    (3, None, TypeError), (3, 2 ** 40, OverflowError),
    (4, 256.0, TypeError), (4, 2 ** 31, OverflowError),
    (5, [1], TypeError), (5, -2 ** 63, OverflowError),
])
def test_read_roi_int_arguments(r, position, bad, kind):
    args = [0, 0, 1, 1, 20.0]
    args[position - 2] = bad
    raises(kind, message('reader_ReadRoi', position, 'int'), _ztxReader.reader_ReadRoi, r, *args)


@pytest.mark.parametrize('bad', ['20', None, [20.0]], ids=repr)
def test_read_roi_scale_argument(r, bad):
    raises(TypeError, message('reader_ReadRoi', 6, 'double'),
           _ztxReader.reader_ReadRoi, r, 0, 0, 1, 1, bad)


def test_read_roi_accepts_bool_and_int(r):
    assert _ztxReader.reader_ReadRoi(r, False, True, 2, 3, 20).size == 18


def test_read_roi_result_shape(r):
    pixels = _ztxReader.reader_ReadRoi(r, 0, 0, 256, 256, 20.0)
    assert isinstance(pixels, np.ndarray)
    assert pixels.dtype == np.uint8 and pixels.shape == (196608,)
    assert pixels.flags['C_CONTIGUOUS'] and pixels.flags['ALIGNED'] and pixels.flags['WRITEABLE']
    assert pixels.reshape(256, 256, 3).shape == (256, 256, 3)


@pytest.mark.parametrize('bad,kind', [
    (1e39, OverflowError), (-1e39, OverflowError), ('20', TypeError), (None, TypeError),
])
def test_set_read_scale_argument(r, bad, kind):
    raises(kind, message('reader_setReadScale', 2, 'float'), _ztxReader.reader_setReadScale, r, bad)


@pytest.mark.parametrize('value,stored', [
    (40.9, 40), (-3.7, -3), (7, 7), (3.4028234663852886e38, 2147483647), (float('inf'), 2147483647),
    (float('-inf'), -2147483648), (float('nan'), 0),
])
def test_set_read_scale_truncates(r, value, stored):
    assert _ztxReader.reader_setReadScale(r, value) is None
    assert _ztxReader.reader_getReadScale(r) == stored


@pytest.mark.parametrize('name,count', [
    ('new_reader', 1), ('delete_reader', 0), ('reader_ReadRoi', 5), ('reader_ReadPreview', 2),
    ('reader_getWidth', 0), ('reader_getHeight', 2), ('reader_getReadScale', 0),
    ('reader_setReadScale', 1), ('reader_readLabelImage', 0), ('reader_clear', 2),
])
def test_wrong_argument_count_is_pythons_own_error(r, name, count):
    args = [r] * count
    with pytest.raises(TypeError) as caught:
        getattr(_ztxReader, name)(*args)
    assert str(caught.value).startswith(f'{name}() takes exactly')


def test_fresh_reader_values(r):
    assert _ztxReader.reader_getWidth(r) == 0 and _ztxReader.reader_getHeight(r) == 0
    assert _ztxReader.reader_getReadScale(r) == 20
    assert _ztxReader.reader_clear(r) == 0
    assert r.clear() == 0


def test_methods_accept_the_class_instance_and_the_raw_object(r):
    raw = r.this
    assert _ztxReader.reader_getReadScale(raw) == 20
    assert _ztxReader.reader_getReadScale(r) == 20


def test_preview_of_a_path_without_one_is_width_zero_and_empty(r, capfd):
    result = _ztxReader.reader_ReadPreview(r)
    assert isinstance(result, list) and result[0] == 0
    assert isinstance(result[1], np.ndarray) and result[1].dtype == np.uint8
    assert result[1].size == 0
    label = _ztxReader.reader_readLabelImage(r)
    assert label[0] == 0 and label[1].size == 0


def run_python(code, **kwargs):
    return subprocess.run([sys.executable, '-c', code], capture_output=True, text=True,
                          env=dict(os.environ), **kwargs)


def test_import_without_numpy_fails_with_the_stated_text():
    result = run_python(
        "import sys\n"
        "sys.modules['numpy'] = None\n"
        "try:\n"
        "    import _ztxReader\n"
        "except ImportError as error:\n"
        "    print('IMPORT', error)\n")
    assert 'IMPORT numpy.core.multiarray failed to import' in result.stdout, result.stderr


def test_core_exceptions_become_python_exceptions_without_a_library(tmp_path):
    """Without libStrata.so anywhere the reader is still made, says so, and
    every library call raises instead of ending the interpreter."""
    out = os.path.dirname(ztxReader.__file__)
    for name in os.listdir(out):
        if name.startswith('_ztxReader') or name == 'ztxReader.py':
            shutil.copy(os.path.join(out, name), tmp_path / name)
    env = dict(os.environ, PYTHONPATH=str(tmp_path))
    result = subprocess.run([sys.executable, '-c',
                             "import ztxReader\n"
                             "r = ztxReader.reader()\n"
                             "try:\n"
                             "    r.ReadInfo('a.ztx')\n"
                             "except RuntimeError as error:\n"
                             "    print('RAISED', error)\n"
                             "print('CLEAR', r.clear())\n"],
                            capture_output=True, text=True, cwd=tmp_path, env=env)
    assert result.returncode == 0, result.stderr
    assert '298Load Strata.dll dll failed\n' in result.stderr
    assert 'RAISED' in result.stdout and 'CLEAR 0' in result.stdout
