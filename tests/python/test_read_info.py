"""ReadInfo: the extension test, open failures and their messages, sizes at a
scale, the zh-CN path step; preview and label images; loading the library."""
import os
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import ztxReader


@pytest.mark.parametrize('path', ['slide.ZTX', 'slide.Ztx', 'slide.ztx.bak', 'slide', '', 'ztx'])
def test_path_not_ending_in_ztx_is_refused(reader, capfd, path):
    assert reader.ReadInfo(path) is False
    out, err = capfd.readouterr()
    assert err == path + ' not a ztx file.\n' and out == ''


def test_open_failure_says_so_on_stderr_only(reader, capfd):
    path = '/nonexistent/Slide 01.ztx'
    assert reader.ReadInfo(path) is False
    out, err = capfd.readouterr()
    assert out == ''
    assert err == 'Read ' + path + ' failed.\n'


def test_double_extension_passes_the_ending_test(reader, capfd):
    assert reader.ReadInfo('/nonexistent/a.ztx.ztx', 0.0, True) is False
    assert capfd.readouterr().err == 'Read /nonexistent/a.ztx.ztx failed.\n'


def test_not_a_slide_file_fails_to_open(reader, tmp_path, capfd):
    path = tmp_path / 'text.ztx'
    path.write_bytes(b'this is no slide at all' * 20)
    for read_all in (False, True):
        assert reader.ReadInfo(str(path), 0.0, read_all) is False
        assert 'Read ' + str(path) + ' failed.\n' in capfd.readouterr().err


def test_failed_open_keeps_the_header_facts(reader, bmp_slide):
    assert reader.ReadInfo(bmp_slide.path, 10.0)
    assert reader.ReadInfo('/nonexistent/x.ztx', 20.0) is False
    assert (reader.getWidth(), reader.getHeight(), reader.getReadScale()) == (500, 350, 20)


@pytest.mark.parametrize('scale,size', [
    (None, (1000, 700)), (0.0, (1000, 700)), (-10.0, (1000, 700)), (float('nan'), (1000, 700)),
    (20.0, (1000, 700)), (10.0, (500, 350)), (5, (250, 175)), (40.0, (2000, 1400)),
    (15.0, (750, 525)), (1.0, (50, 35)),
])
@pytest.mark.parametrize('read_all', [False, True])
def test_size_at_scale(reader, bmp_slide, scale, size, read_all):
    ok = reader.ReadInfo(bmp_slide.path) if scale is None and not read_all else \
        reader.ReadInfo(bmp_slide.path, 0.0 if scale is None else scale, read_all)
    assert ok is True
    assert (reader.getWidth(), reader.getHeight()) == size
    assert reader.getReadScale() == 20


def test_half_size_rounds_half_up(reader, slides):
    slide = slides('odd.ztx', 1001, 701, '--bmp')
    assert reader.ReadInfo(slide.path, 10.0)
    assert (reader.getWidth(), reader.getHeight()) == (501, 351)


def test_scan_scale_and_block_size_come_from_the_header(reader, slides):
    slide = slides('forty.ztx', 800, 600, '--bmp', '--scan-scale', '40', '--block', '512')
    assert reader.ReadInfo(slide.path, 20.0)
    assert reader.getReadScale() == 40
    assert (reader.getWidth(), reader.getHeight()) == (400, 300)
    # Regions are fetched at the scan scale in 512-pixel tiles.
    got = reader.ReadRoi(0, 0, 400, 300, 20.0).reshape(300, 400, 3).astype(int)
    blocks = slide.bgr.astype(int).reshape(300, 2, 400, 2, 3).mean(axis=(1, 3))
    assert np.abs(got - blocks).max() <= 1


def test_set_read_scale_is_replaced_by_read_info(reader, bmp_slide):
    reader.setReadScale(40.9)
    assert reader.getReadScale() == 40
    assert reader.ReadInfo(bmp_slide.path)
    assert reader.getReadScale() == 20


def test_set_read_scale_between_read_info_and_read_roi(reader, bmp_slide):
    assert reader.ReadInfo(bmp_slide.path, 10.0)
    reader.setReadScale(10.0)   # tiles of scale 10: the half-size level
    got = reader.ReadRoi(0, 0, 256, 256, 10.0).reshape(256, 256, 3).astype(int)
    blocks = bmp_slide.bgr[:512, :512].astype(int).reshape(256, 2, 256, 2, 3).mean(axis=(1, 3))
    assert np.abs(got - blocks).max() <= 2


# ---------------------------------------------------------------- zh-CN paths

def gbk_name(folder, name):
    return os.fsencode(str(folder)) + b'/' + name.encode('gbk')


@pytest.mark.parametrize('read_all', [False, True])
def test_utf8_chinese_path_reaches_the_library_in_gbk(tmp_path, bmp_slide, read_all):
    name = '切片 样本.ztx'
    os.link(bmp_slide.path, gbk_name(tmp_path, name))  # only the GBK name exists
    r = ztxReader.reader()
    assert r.ReadInfo(str(tmp_path / name), 0.0, read_all)
    assert (r.getWidth(), r.getHeight()) == (1000, 700)
    np.testing.assert_array_equal(r.ReadRoi(500, 300, 40, 30, 20.0).reshape(30, 40, 3),
                                  bmp_slide.region(500, 300, 40, 30))
    assert r.ReadPreview()[0] == 96


def test_chinese_path_messages_carry_gbk_bytes(reader, capfdbinary):
    path = '/nonexistent/切片.ztx'
    assert reader.ReadInfo(path) is False
    out, err = capfdbinary.readouterr()
    assert out == b''
    assert err == b'Read ' + path.encode('gbk') + b' failed.\n'


def test_four_byte_characters_pass_unchanged(tmp_path, bmp_slide):
    name = 'slide \U0001F52C.ztx'   # a four-byte character: not converted
    os.link(bmp_slide.path, tmp_path / name)
    r = ztxReader.reader()
    assert r.ReadInfo(str(tmp_path / name))
    assert r.ReadRoi(0, 0, 1, 1, 20.0).size == 3


def test_path_without_a_gbk_form_becomes_empty(reader, capfd):
    assert reader.ReadInfo('/tmp/\ud55c\uae00.ztx') is False   # Hangul has no GBK form
    assert capfd.readouterr().err == ' not a ztx file.\n'


def test_path_with_a_zero_byte_does_not_open_its_first_part(reader, bmp_slide, capfd):
    assert reader.ReadInfo(bmp_slide.path + '\0.ztx') is False
    assert 'failed.' in capfd.readouterr().err
    assert reader.ReadPreview()[0] == 0 and reader.readLabelImage()[0] == 0


# ---------------------------------------------------------------- preview and label

def test_preview_and_label_pixels(reader, bmp_slide):
    assert reader.ReadInfo(bmp_slide.path)
    preview = bmp_slide.images[:96 * 60 * 3].reshape(60, 96, 3)[:, :, ::-1]
    label = bmp_slide.images[96 * 60 * 3:].reshape(40, 72, 3)[:, :, ::-1]
    width, pixels = reader.ReadPreview()
    assert width == 96 and pixels.dtype == np.uint8
    np.testing.assert_array_equal(pixels.reshape(60, 96, 3), preview)
    width, pixels = reader.readLabelImage()
    assert width == 72
    np.testing.assert_array_equal(pixels.reshape(40, 72, 3), label)


def test_jpeg_preview_and_label_sizes(reader, jpeg_slide):
    assert reader.ReadInfo(jpeg_slide.path)
    width, pixels = reader.ReadPreview()
    assert width == 320 and pixels.size == 320 * 160 * 3
    width, pixels = reader.readLabelImage()
    assert width == 240 and pixels.size == 240 * 120 * 3


def test_missing_preview_and_label(reader, slides, capfd):
    slide = slides('bare.ztx', 300, 200, '--no-preview', '--no-label')
    assert reader.ReadInfo(slide.path)
    capfd.readouterr()
    width, pixels = reader.ReadPreview()
    assert width == 0 and pixels.size == 0
    assert capfd.readouterr().err == ('error occor when read preview \nztx path is '
                                      + slide.path + '\n')
    width, pixels = reader.readLabelImage()
    assert width == 0 and pixels.size == 0
    assert capfd.readouterr().err == ''


def test_associated_images_use_the_last_path_whatever_its_result(reader, bmp_slide, capfd):
    assert reader.ReadInfo(bmp_slide.path)
    assert reader.ReadInfo(bmp_slide.path + '.bak') is False
    assert reader.ReadPreview()[0] == 0


def test_preview_whose_stored_size_is_wrong_uses_the_decoded_size(reader, slides):
    slide = slides('claims.ztx', 300, 200, '--bmp-images', '--preview-claims', '500x400')
    assert reader.ReadInfo(slide.path)
    width, pixels = reader.ReadPreview()
    assert width == 96 and pixels.size == 96 * 60 * 3
    np.testing.assert_array_equal(pixels.reshape(60, 96, 3),
                                  slide.images[:96 * 60 * 3].reshape(60, 96, 3)[:, :, ::-1])


def test_preview_that_does_not_decode(reader, slides, capfd):
    slide = slides('garbage.ztx', 300, 200, '--preview-garbage')
    assert reader.ReadInfo(slide.path)
    capfd.readouterr()
    width, pixels = reader.ReadPreview()
    assert width == 0 and pixels.size == 0
    assert 'error occor when read preview' in capfd.readouterr().err


# ---------------------------------------------------------------- loading the library

OUT_DIR = os.path.dirname(os.path.abspath(ztxReader.__file__))

READ_ONE_REGION = (
    "import sys, ztxReader\n"
    "r = ztxReader.reader()\n"
    "ok = r.ReadInfo(sys.argv[1])\n"
    "print(ok, r.getWidth(), r.getHeight(), r.ReadRoi(0, 0, 8, 8, 20.0).size)\n")


def run_reader(cwd, python_path, slide):
    env = dict(os.environ, PYTHONPATH=python_path)
    return subprocess.run([sys.executable, '-c', READ_ONE_REGION, slide], cwd=cwd, env=env,
                          capture_output=True, text=True)


def test_library_is_found_next_to_the_module_from_any_directory(tmp_path, bmp_slide):
    result = run_reader(tmp_path, OUT_DIR, bmp_slide.path)
    assert result.stdout == 'True 1000 700 192\n', result.stderr


def test_unloadable_file_in_the_working_directory_falls_back(tmp_path, bmp_slide):
    (tmp_path / 'libStrata.so').write_bytes(b'not a library')
    result = run_reader(tmp_path, OUT_DIR, bmp_slide.path)
    assert result.stdout == 'True 1000 700 192\n', result.stderr


@pytest.mark.skipif(not os.environ.get('ZTX_BUILD_DIR'), reason='needs the build folder')
def test_installed_package_works_from_any_directory(tmp_path, bmp_slide):
    prefix = tmp_path / 'prefix'
    subprocess.run(['cmake', '--install', os.environ['ZTX_BUILD_DIR'], '--prefix', str(prefix)],
                   check=True, capture_output=True)
    site = next(prefix.glob('lib/python3*/site-packages'))
    # The strata package folder is installed beside the module.
    names = sorted(p.name for p in site.iterdir() if p.name != 'strata')
    assert names[0].startswith('_ztxReader') and names[1:] == ['ztxReader.py']
    assert (prefix / 'lib' / 'libStrata.so').is_symlink()
    elsewhere = tmp_path / 'elsewhere'
    elsewhere.mkdir()
    result = run_reader(elsewhere, str(site), bmp_slide.path)
    assert result.stdout == 'True 1000 700 192\n', result.stderr
