// The page's own script: takes the file, has a worker convert it, and shows
// the result. The worker is made from the text of the worker-script element,
// since a page opened from a file may load no script file.
(() => {
  const TEXTS = {
    ja: {
      title: 'taletab — 脚本をHTMLページに',
      heading: '脚本をHTMLページに変換',
      intro: '脚本のファイル（各行が名前、タブ、せりふ）を選ぶと、そのままHTMLページになります。変換はこのブラウザーの中だけで行われ、ファイルはどこにも送られません。',
      choose: '脚本ファイルを<strong>選ぶ</strong>か、ここにドロップしてください',
      pageName: 'ページの名前（タイトルにもなります）',
      author: '作者名（任意・空欄なら仮の文字のまま）',
      address: 'メールアドレス（任意・空欄なら仮の文字のまま）',
      save: 'ページを保存',
      preview: 'プレビュー',
      language: 'English',
      summary: (r) => `${r.encoding} として読み、${r.rows.toLocaleString('ja')} 行にしました。`,
      unreadable: (n) => `読めない文字が ${n.toLocaleString('ja')} 個ありました（� で示します）。`,
      doubtful: (encoding) => `文字コードは ${encoding} と判断して読みましたが、違うかもしれません。`,
      partial: (shown, whole) => `プレビューはページの先頭 ${shown} だけです。保存されるページは全部（${whole}）です。`,
      empty: 'このファイルは空で、脚本の行がありません。ページは作りませんでした。',
      binary: 'このファイルは脚本（テキストファイル）ではないようです。ページは作りませんでした。',
      failed: 'このファイルは変換できませんでした（大きすぎる行があるのかもしれません）。',
    },
    en: {
      title: 'taletab — a script into an HTML page',
      heading: 'Turn a script into an HTML page',
      intro: 'Choose a script file (each line a name, a TAB and the words) and it becomes an HTML page. It is converted inside this browser only: your file is sent nowhere.',
      choose: '<strong>Choose</strong> a script file, or drop it here',
      pageName: 'Page name (also its title)',
      author: 'Author’s name (optional: a placeholder stays if empty)',
      address: 'E-mail address (optional: a placeholder stays if empty)',
      save: 'Save the page',
      preview: 'Preview',
      language: '日本語',
      summary: (r) => `Read as ${r.encoding}: ${r.rows.toLocaleString('en')} rows.`,
      unreadable: (n) => `${n.toLocaleString('en')} characters could not be read (shown as �).`,
      doubtful: (encoding) => `The script was taken to be ${encoding}, which may be wrong.`,
      partial: (shown, whole) => `The preview shows the first ${shown} of the page only. The saved page is whole (${whole}).`,
      empty: 'This file is empty: it has no lines of a script. No page was made.',
      binary: 'This file does not look like a script (a text file). No page was made.',
      failed: 'This file could not be converted (a line may be too long).',
    },
  };
  // Shown for a moment only, a progress bar would flicker.
  const PROGRESS_AFTER_MS = 300;
  const SETTLE_MS = 250;  // after typing in a field, before converting again

  const $ = (id) => document.getElementById(id);
  const fileInput = $('file'), drop = $('drop'), pageName = $('page-name'), author = $('author'), address = $('address');
  const progress = $('progress'), message = $('message'), result = $('result'), save = $('save');
  const summary = $('summary'), previewNote = $('preview-note'), preview = $('preview');
  const workerUrl = URL.createObjectURL(new Blob([$('worker-script').textContent], {type: 'text/javascript'}));

  const preferred = (navigator.languages && navigator.languages[0]) || navigator.language || 'ja';
  let language = /^ja\b/i.test(preferred) ? 'ja' : 'en';
  let file = null, worker = null, shown = null, urls = [], settle = 0, showProgress = 0;
  // A worker started before it is needed has its module ready when a file comes.
  let spare = new Worker(workerUrl);

  function megabytes(bytes) {
    return `${(bytes / (1024 * 1024)).toLocaleString(language, {maximumFractionDigits: 1})} MB`;
  }

  function defaultPageName() {
    if (!file) return '';
    const dot = file.name.lastIndexOf('.');
    return `${dot > 0 ? file.name.slice(0, dot) : file.name}.htm`;
  }

  function render() {
    const texts = TEXTS[language];
    document.documentElement.lang = language;
    document.title = texts.title;
    for (const element of document.querySelectorAll('[data-text]')) element.innerHTML = texts[element.dataset.text];
    $('language').textContent = texts.language;
    $('language').lang = language === 'ja' ? 'en' : 'ja';
    preview.title = texts.preview;
    pageName.placeholder = defaultPageName();
    $('file-name').textContent = file ? file.name : '';
    message.textContent = shown && shown.error ? texts[shown.error] : '';
    if (shown && !shown.error) {
      summary.textContent = texts.summary(shown) + (shown.unreadable ? ` ${texts.unreadable(shown.unreadable)}` : '') +
        (shown.doubtful ? ` ${texts.doubtful(shown.encoding)}` : '');
      previewNote.textContent = shown.partial ? texts.partial(megabytes(shown.preview.size), megabytes(shown.page.size)) : '';
    }
  }

  function show(state, outcome) {
    shown = outcome;
    document.body.dataset.state = state;
    for (const url of urls) URL.revokeObjectURL(url);
    urls = [];
    const page = outcome && !outcome.error ? outcome : null;
    result.hidden = preview.hidden = !page;
    previewNote.hidden = !(page && page.partial);
    if (page) {
      urls = [URL.createObjectURL(page.page), URL.createObjectURL(page.preview)];
      save.href = urls[0];
      save.download = pageName.value || defaultPageName();
      preview.src = urls[1];
    } else {
      save.removeAttribute('href');
      preview.removeAttribute('src');
    }
    render();
  }

  function convert() {
    clearTimeout(settle);
    clearTimeout(showProgress);
    if (worker) worker.terminate();
    worker = null;
    progress.hidden = true;
    if (!file) return;
    const started = performance.now();
    const running = spare || new Worker(workerUrl);
    spare = null;
    worker = running;
    document.body.dataset.state = 'converting';
    showProgress = setTimeout(() => { progress.value = 0; progress.hidden = false; }, PROGRESS_AFTER_MS);
    const end = (outcome) => {
      running.terminate();
      spare = spare || new Worker(workerUrl);
      if (worker !== running) return;
      clearTimeout(showProgress);
      worker = null;
      progress.hidden = true;
      // For the tests and the benchmark: how many conversions have ended, and how long the last took.
      document.body.dataset.conversions = Number(document.body.dataset.conversions || 0) + 1;
      document.body.dataset.convertMs = Math.round(performance.now() - started);
      show(outcome.error ? 'refused' : 'done', outcome);
    };
    running.onmessage = ({data}) => {
      if (data.progress !== undefined) progress.value = data.progress;
      else end(data.result);
    };
    running.onerror = (event) => { event.preventDefault(); end({error: 'failed'}); };
    running.postMessage({file, details: {title: pageName.value || defaultPageName(), author: author.value, address: address.value}});
  }

  function choose(chosen) {
    if (!chosen) return;
    file = chosen;
    pageName.value = defaultPageName();
    show('idle', null);
    convert();
  }

  fileInput.addEventListener('change', () => {
    choose(fileInput.files[0]);
    // Emptied, so that choosing the same file again, edited since, converts it again.
    fileInput.value = '';
  });
  for (const field of [pageName, author, address]) {
    field.addEventListener('input', () => {
      clearTimeout(settle);
      settle = setTimeout(convert, SETTLE_MS);
    });
  }
  // A file dropped anywhere is taken, never opened in place of the page.
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    drop.classList.add('over');
  });
  document.addEventListener('dragleave', (event) => {
    if (!event.relatedTarget) drop.classList.remove('over');
  });
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    drop.classList.remove('over');
    choose(event.dataTransfer.files[0]);
  });
  // For the tests: which preview has loaded.
  preview.addEventListener('load', () => { document.body.dataset.previewShown = preview.src; });
  $('language').addEventListener('click', () => {
    language = language === 'ja' ? 'en' : 'ja';
    render();
  });
  render();
})();
